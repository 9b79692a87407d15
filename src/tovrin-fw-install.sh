#!/bin/sh
# tovrin-fw-install: from the vendor's driver package to the installed
# firmware in one step, offline.  Takes every CnxEtU.sys out of SOURCE,
# runs tovrin-fw on each, and installs the one image they hold as
# DIR/tovrin-fw.bin, atomically.
set -eu

me=tovrin-fw-install
version=@TOVRIN_FW_VERSION@
page=tovrin-fw-$version.html
dir=/lib/firmware
force=

say() { printf '%s: %s\n' "$me" "$*"; }
die() {
	say "$*" >&2
	exit 1
}
usage() {
	printf 'Usage: %s [--firmware-dir DIR] [--force] SOURCE\n' "$me" >&2
	printf "Try \`%s --help' for more information.\n" "$me" >&2
	exit 64
}

while [ $# -gt 0 ]; do
	case $1 in
	--help)
		cat <<EOF
Usage: $me [--firmware-dir DIR] [--force] SOURCE
Install the firmware of Conexant AccessRunner ADSL USB modems from the
modem's Windows driver package, for the kernel's firmware loader.

SOURCE - the vendor's package (zip, cabinet, self-extracting .exe, 7-Zip,
ISO image), the CD drive, a folder (a mounted CD, an unpacked package), or
the driver CnxEtU.sys itself

The image goes to DIR/tovrin-fw.bin, mode 0644, where the kernel's firmware
loader finds it (DIR is /lib/firmware unless --firmware-dir says otherwise).
Packages are read with bsdtar (libarchive-tools); a folder or the driver
itself needs nothing more.  Without network, carry the .deb files of
libarchive-tools libarchive13 libxml2 libicu72 (Debian 12) or
libarchive-tools libarchive13t64 libxml2 (Debian 13), fetched with
apt-get update && apt-get download on the same Debian release and
architecture, and dpkg -i them; or use the offline page $page on any
computer.

Options:
  --firmware-dir DIR   install into DIR (default /lib/firmware)
  --force              replace a DIR/tovrin-fw.bin that holds another image
  --help               give this help list
  --version            print program version

Report bugs to <tovrin-fw-general at lists dot example dot org>.
EOF
		exit 0
		;;
	--version)
		echo "$version"
		exit 0
		;;
	--force) force=1 ;;
	--firmware-dir=*) dir=${1#*=} ;;
	--firmware-dir)
		[ $# -ge 2 ] || usage
		dir=$2
		shift
		;;
	--) shift && break ;;
	-?*)
		printf "%s: unrecognized option '%s'\n" "$me" "$1" >&2
		usage
		;;
	*) break ;;
	esac
	shift
done
if [ $# -ne 1 ] || [ -z "$1" ] || [ -z "$dir" ]; then
	usage
fi
src=$1

[ -e "$src" ] || die "cannot read \`$src': No such file or directory"
[ -r "$src" ] || die "cannot read \`$src': Permission denied"

# tovrin-fw: the one the caller names, the one installed beside us, or
# the one on PATH.
here=$(dirname "$0")
if [ -n "${TOVRIN_FW-}" ]; then
	fw=$TOVRIN_FW
elif [ -x "$here/tovrin-fw" ]; then
	fw=$here/tovrin-fw
else
	fw=$(command -v tovrin-fw) ||
		die "tovrin-fw not found: install it beside $me or on PATH"
fi
case $fw in /*) ;; *) fw=$PWD/$fw ;; esac

# Everything of ours lives in $tmp, and in $part once it exists; on any
# way out both go, and so does each folder we made for DIR, from DIR up to
# $made, the first of them, while it is empty.  The traps come first, and
# each name is known before its file is made: a signal at any moment
# leaves nothing behind.
tmpdir=${TMPDIR:-/tmp}
tmp=
part=
made=
cleanup() {
	[ -z "$tmp" ] || rm -rf "$tmp"
	[ -z "$part" ] || rm -f "$part"
	d=$dir
	while [ -n "$made" ]; do
		# One that mkdir -p did not get to is no reason to stop.
		rmdir "$d" 2>/dev/null || [ ! -e "$d" ] || break
		[ "$d" != "$made" ] || break
		d=$(dirname "$d")
	done
}
trap cleanup EXIT
for sig in HUP INT TERM; do
	# shellcheck disable=SC2064 # each trap names its own signal
	trap "cleanup; trap - $sig EXIT; kill -$sig \$\$" "$sig"
done
# mktemp's own words would only repeat ours.
if ! tmp=$(mktemp -d -u 2>/dev/null) || ! mkdir -m 0700 "$tmp" 2>/dev/null; then
	tmp=
	die "cannot make a folder in \`$tmpdir' (TMPDIR)"
fi
full() { die "no room in \`$tmpdir' (TMPDIR) to unpack \`$src': $1"; }

# Real drivers are well under 1 MiB, and real packages hold a handful:
# a larger CnxEtU.sys, or drivers that come to more than $total, are
# damaged or hostile, and are refused before anything is unpacked, so
# that they cannot fill TMPDIR.
max=$((16 * 1024 * 1024))
total=$((64 * 1024 * 1024))
# Of many lines alike, the first few are said, then how many more.
few=3
# Up to $few of bsdtar's reasons, from $err, on one line.  Kept in
# memory: a full TMPDIR could not hold them.
why() {
	reason=$(printf '%s\n' "$err" | sed -e 's/^bsdtar: //' -e '/^$/d' \
		-e '/^Error exit delayed/d' -e '/^(null)$/d')
	if [ -z "$reason" ]; then
		echo 'bsdtar could not read it through'
		return
	fi
	more=$(($(printf '%s\n' "$reason" | wc -l) - few))
	printf '%s\n' "$reason" | head -n "$few" | paste -sd ';' - | sed 's/;/; /g'
	[ "$more" -le 0 ] || printf '; %s more\n' "$more"
}
nl='
'

# $found: the drivers, a line each of size and path inside the folder
# $base, where tovrin-fw runs so that it names each driver as SOURCE
# holds it.
if [ -d "$src" ]; then
	kind=folder
	base=$(cd "$src" && pwd)
	found=$(cd "$base" && find . -type f -iname cnxetu.sys -printf '%s %P\n' |
		sort -k 2)
elif ! command -v bsdtar >/dev/null; then
	# Without bsdtar the file can still be the driver itself.
	kind=driver
elif err=$(bsdtar -tf "$src" 2>&1 >/dev/null); then
	kind=package
	base=$tmp/x
	# Size and name of each regular file called CnxEtU.sys, in any
	# folder and letter case, from bsdtar's ls -l style listing.
	found=$(bsdtar -tvf "$src" 2>/dev/null | sed -n 's|^-[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}\([0-9]\{1,\}\) \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \(\(.*/\)\{0,1\}[Cc][Nn][Xx][Ee][Tt][Uu]\.[Ss][Yy][Ss]\)$|\1 \2|p' |
		sort -k 2)
elif [ -z "${err##*Unrecognized archive format*}" ]; then
	kind=driver
else
	die "\`$src' is damaged or cut short ($(why)): fetch or copy it again"
fi
# The driver itself is read in place, whatever its size.
[ "$kind" != driver ] || { base=$PWD found="0 $src"; }
[ -n "$found" ] || die "no CnxEtU.sys in \`$src' (read as a $kind)"

# Those larger than any driver are left out, the first few said; the rest
# may not come to more than any package holds.
n=0
sum=0
out=0
set -f
IFS=$nl
set --
for line in $found; do
	size=${line%% *} path=${line#* }
	if [ "$size" -le "$max" ]; then
		n=$((n + 1)) sum=$((sum + size))
		continue
	fi
	out=$((out + 1))
	set -- "$@" --exclude "$path"
	[ "$out" -gt "$few" ] ||
		say "\`${path#./}' in \`$src' is $size bytes, more than any driver ($max): left out" >&2
done
IFS=' '
[ "$out" -le "$few" ] ||
	say "$((out - few)) more CnxEtU.sys in \`$src' are larger than any driver: left out" >&2
[ "$n" -gt 0 ] || die "no CnxEtU.sys in \`$src' is small enough to be a driver"
[ "$sum" -le "$total" ] ||
	die "the $n drivers in \`$src' come to $sum bytes, more than any package's drivers ($total): refused"
if [ "$kind" = package ]; then
	mkdir "$base" 2>/dev/null || full 'cannot make a folder'
	if ! err=$(bsdtar -xf "$src" -C "$base" "$@" \
		'*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]' 2>&1); then
		case $err in *'No space left on device'*) full "$(why)" ;; esac
		die "\`$src' is damaged or cut short ($(why)): fetch or copy it again"
	fi
fi

# Each driver's image; those without one are passed over, the first few
# said with tovrin-fw's reason.  $images: a line each of number, path and
# SHA-256; $offset: what tovrin-fw said of the first.
mkdir "$tmp/img" 2>/dev/null || full 'cannot make a folder'
tab=$(printf '\t')
i=0
images=
offset=
none=0
IFS=$nl
for line in $found; do
	size=${line%% *} path=${line#* }
	[ "$size" -le "$max" ] || continue
	[ "$kind" != package ] || path=${path#./}
	i=$((i + 1))
	if said=$(cd "$base" && "$fw" "$path" "$tmp/img/$i" 2>&1); then
		images=$images$i$tab$path$tab$(sha256sum <"$tmp/img/$i" | cut -d' ' -f1)$nl
		[ -n "$offset" ] || offset=$said
		continue
	fi
	# Our own image not written is TMPDIR's fault, not the driver's.
	case $said in *"\`$tmp/img/$i'"*) full "${said##*: }" ;; esac
	none=$((none + 1))
	# Its first line, less the name it was run by.
	said=${said%%"$nl"*}
	[ "$none" -gt "$few" ] || say "no firmware in \`$path': ${said#*: }" >&2
done
IFS=' '
[ "$none" -le "$few" ] || say "$((none - few)) more drivers hold no firmware" >&2
found=$((n - none))
if [ "$found" -eq 0 ]; then
	if [ "$kind" = driver ] && ! command -v bsdtar >/dev/null; then
		die "\`$src' is no driver; if it is the vendor's package, bsdtar is needed to read it: install libarchive-tools (without network, see $me --help), or take the firmware out with the offline page $page on any computer"
	elif [ "$kind" = driver ]; then
		die "\`$src' is neither a package that bsdtar can read nor a driver"
	elif [ $((n + out)) -eq 1 ]; then
		die "the one driver in \`$src' holds no firmware"
	fi
	die "none of the $((n + out)) drivers in \`$src' holds the firmware"
fi

if [ "$(printf '%s' "$images" | cut -f3 | sort -u | wc -l)" -gt 1 ]; then
	{
		say "the drivers in \`$src' hold different images:"
		j=0
		printf '%s' "$images" | while IFS="$tab" read -r i path sum; do
			j=$((j + 1))
			if [ "$j" -le "$few" ]; then
				printf '    %s: %s bytes, sha256 %s\n' "$path" \
					"$(wc -c <"$tmp/img/$i" | tr -d ' ')" "$sum"
			elif [ "$j" -eq $((few + 1)) ]; then
				printf '    and %s more\n' $((found - few))
			fi
		done
		case $kind in
		folder) say "pick one: give its path in \`$src' as SOURCE" ;;
		*) say "pick one: take it out (bsdtar -xf SOURCE PATH) and give that driver as SOURCE" ;;
		esac
	} >&2
	exit 1
fi
first=${images%%"$nl"*}
i=${first%%"$tab"*} path=${first#*"$tab"}
path=${path%"$tab"*}
image=$tmp/img/$i
[ "$found" -eq 1 ] || say "$found drivers in \`$src' hold the same image"
if [ "$kind" = driver ]; then
	say "using \`$path'"
else
	say "using \`$path' from \`$src'"
fi
printf '%s\n' "$offset"

target=$dir/tovrin-fw.bin
if [ -e "$target" ] || [ -L "$target" ]; then
	if cmp -s "$image" "$target"; then
		say "\`$target' already holds this image: left as it is"
		exit 0
	fi
	[ -n "$force" ] ||
		die "\`$target' holds another image: left as it is (--force replaces it)"
fi
if [ ! -d "$dir" ]; then
	made=$dir
	while [ ! -e "$(dirname "$made")" ]; do
		made=$(dirname "$made")
	done
	mkdir -p "$dir" 2>/dev/null ||
		die "cannot create \`$dir' (the default needs root)"
fi
[ -w "$dir" ] || die "cannot write to \`$dir' (the default needs root)"

# Written beside the target and renamed over it, so that the kernel's
# loader sees the old image or the new one, never a part.  Its name is
# known before it is made, as $tmp's is.
part=$(mktemp -u "$dir/.tovrin-fw.bin.XXXXXX") || part=
if [ -z "$part" ] || ! (set -C && : >"$part") 2>/dev/null; then
	part=
	die "cannot write to \`$dir' (the default needs root)"
fi
if ! { cp "$image" "$part" && chmod 0644 "$part" && sync "$part"; }; then
	die "cannot write \`$part'"
fi
mv -f "$part" "$target" || die "cannot rename \`$part' to \`$target'"
part=
made=
say "installed \`$target'"

# Whether the kernel's firmware loader reads DIR: its own folders, and the
# one that its path parameter names.
read_by_loader() {
	here=$(cd "$dir" && pwd -P)
	release=$(uname -r)
	custom=$(cat /sys/module/firmware_class/parameters/path 2>/dev/null) || custom=
	for d in ${custom:+"$custom"} "/lib/firmware/updates/$release" \
		/lib/firmware/updates "/lib/firmware/$release" /lib/firmware; do
		[ "$(cd "$d" 2>/dev/null && pwd -P)" != "$here" ] || return 0
	done
	return 1
}
if read_by_loader; then
	say "next: plug the modem in (again), and see as root: dmesg | grep -i firmware"
else
	say "next: the kernel's firmware loader does not read \`$dir': on the modem's computer, as root, install -D -m 0644 $target /lib/firmware/tovrin-fw.bin, then plug the modem in (again)"
fi
