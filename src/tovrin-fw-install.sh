#!/bin/sh
# tovrin-fw-install: from the vendor's driver package to the installed
# firmware in one step, offline.  Takes every CnxEtU.sys out of SOURCE,
# runs tovrin-fw on each, and installs the one image they hold as
# DIR/tovrin-fw.bin, atomically.
set -eu

me=tovrin-fw-install
version=@TOVRIN_FW_VERSION@
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
apt-get download on the same release, and dpkg -i them; or use the offline
page tovrin-fw.html on any computer.

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
# $made, the first of them, while it is empty.
tmpdir=${TMPDIR:-/tmp}
# mktemp's own words would only repeat ours.
tmp=$(mktemp -d 2>/dev/null) || die "cannot make a folder in \`$tmpdir' (TMPDIR)"
part=
made=
cleanup() {
	rm -rf "$tmp"
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

# Real drivers are well under 1 MiB, and 16 MiB fits in any temporary
# folder: a larger CnxEtU.sys is damaged or hostile, and is left out
# before it is unpacked, so that it cannot fill TMPDIR.
max=$((16 * 1024 * 1024))
too_large() {
	say "\`$2' in \`$src' is $1 bytes, more than any driver ($max): left out" >&2
}
# bsdtar's own reason, from $err, on one line.  Kept in memory: a full
# TMPDIR could not hold it.
why() {
	reason=$(printf '%s\n' "$err" | sed 's/^bsdtar: //' |
		grep -v -e '^Error exit delayed' -e '^(null)$' |
		paste -sd ';' - | sed 's/;/; /g')
	printf '%s\n' "${reason:-bsdtar could not read it through}"
}

# $tmp/list: the drivers, as paths inside the folder $base, where
# tovrin-fw runs so that it names each driver as SOURCE holds it.  $n
# counts them, those left out too.
n=0
: >"$tmp/list"
if [ -d "$src" ]; then
	kind=folder
	base=$(cd "$src" && pwd)
	(cd "$base" && find . -type f -iname cnxetu.sys) | sed 's|^\./||' |
		sort >"$tmp/found"
	while IFS= read -r path; do
		n=$((n + 1))
		size=$(wc -c <"$base/$path" 2>/dev/null) || size=0
		if [ "$size" -gt "$max" ]; then
			too_large "$size" "$path"
		else
			printf '%s\n' "$path" >>"$tmp/list"
		fi
	done <"$tmp/found"
elif ! command -v bsdtar >/dev/null; then
	# Without bsdtar the file can still be the driver itself.
	kind=driver
elif err=$(bsdtar -tvf "$src" 2>&1 >"$tmp/entries"); then
	kind=package
	base=$tmp/x
	mkdir "$base"
	# Size and name of each regular file called CnxEtU.sys, in any
	# folder and letter case, from bsdtar's ls -l style listing.
	sed -n 's|^-[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}\([0-9]\{1,\}\) \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \(\(.*/\)\{0,1\}[Cc][Nn][Xx][Ee][Tt][Uu]\.[Ss][Yy][Ss]\)$|\1 \2|p' \
		"$tmp/entries" | sort -k 2 >"$tmp/found"
	set --
	while read -r size path; do
		n=$((n + 1))
		if [ "$size" -gt "$max" ]; then
			too_large "$size" "${path#./}"
			set -- "$@" --exclude "$path"
		else
			printf '%s\n' "${path#./}" >>"$tmp/list"
		fi
	done <"$tmp/found"
	if [ -s "$tmp/list" ] && ! err=$(bsdtar -xf "$src" -C "$base" "$@" \
		'*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]' 2>&1); then
		case $err in *'No space left on device'*)
			die "no room in \`$tmpdir' (TMPDIR) to unpack \`$src': $(why)" ;;
		esac
		die "\`$src' is damaged or cut short ($(why)): fetch or copy it again"
	fi
elif [ -z "${err##*Unrecognized archive format*}" ]; then
	kind=driver
else
	die "\`$src' is damaged or cut short ($(why)): fetch or copy it again"
fi
if [ "$kind" = driver ]; then
	base=$PWD
	n=1
	printf '%s\n' "$src" >"$tmp/list"
fi
[ "$n" -gt 0 ] || die "no CnxEtU.sys in \`$src' (read as a $kind)"

# Each driver's image, with its offset line; those without one are
# reported and passed over.
mkdir "$tmp/img"
tab=$(printf '\t')
i=0
found=0
while IFS= read -r path; do
	i=$((i + 1))
	if (cd "$base" && "$fw" "$path" "$tmp/img/$i") >"$tmp/out$i" 2>"$tmp/err$i"; then
		found=$((found + 1))
		printf '%s\t%s\t%s\n' "$i" "$path" \
			"$(sha256sum <"$tmp/img/$i" | cut -d' ' -f1)" >>"$tmp/images"
	else
		say "no firmware in \`$path':" >&2
		sed 's/^/    /' "$tmp/err$i" >&2
	fi
done <"$tmp/list"
if [ "$found" -eq 0 ]; then
	if [ "$kind" = driver ] && ! command -v bsdtar >/dev/null; then
		die "\`$src' is no driver; if it is the vendor's package, bsdtar is needed to read it: install libarchive-tools (without network, see $me --help), or take the firmware out with the offline page tovrin-fw.html on any computer"
	elif [ "$kind" = driver ]; then
		die "\`$src' is neither a package that bsdtar can read nor a driver"
	elif [ ! -s "$tmp/list" ]; then
		die "no CnxEtU.sys in \`$src' is small enough to be a driver"
	elif [ "$n" -eq 1 ]; then
		die "the one driver in \`$src' holds no firmware"
	fi
	die "none of the $n drivers in \`$src' holds the firmware"
fi

if [ "$(cut -f3 "$tmp/images" | sort -u | wc -l)" -gt 1 ]; then
	{
		say "the drivers in \`$src' hold different images:"
		while IFS="$tab" read -r i path sum; do
			printf '    %s: %s bytes, sha256 %s\n' "$path" \
				"$(wc -c <"$tmp/img/$i" | tr -d ' ')" "$sum"
		done <"$tmp/images"
		case $kind in
		folder) say "pick one: give its path in \`$src' as SOURCE" ;;
		*) say "pick one: take it out (bsdtar -xf SOURCE PATH) and give that driver as SOURCE" ;;
		esac
	} >&2
	exit 1
fi
IFS="$tab" read -r i path sum <"$tmp/images"
image=$tmp/img/$i
[ "$found" -eq 1 ] || say "$found drivers in \`$src' hold the same image"
if [ "$kind" = driver ]; then
	say "using \`$path'"
else
	say "using \`$path' from \`$src'"
fi
cat "$tmp/out$i"

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
# loader sees the old image or the new one, never a part.
part=$(mktemp "$dir/.tovrin-fw.bin.XXXXXX") ||
	die "cannot write to \`$dir' (the default needs root)"
if ! { cp "$image" "$part" && chmod 0644 "$part" && sync "$part"; }; then
	die "cannot write \`$part'"
fi
mv -f "$part" "$target" || die "cannot rename \`$part' to \`$target'"
part=
made=
say "installed \`$target'"
say "next: plug the modem in (again), and see as root: dmesg | grep -i firmware"
