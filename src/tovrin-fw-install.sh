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
# way out both go, and DIR, if we made it, goes too if still empty.
tmp=$(mktemp -d)
part=
made=
cleanup() {
	rm -rf "$tmp"
	[ -z "$part" ] || rm -f "$part"
	[ -z "$made" ] || rmdir "$dir" 2>/dev/null || true
}
trap cleanup EXIT
for sig in HUP INT TERM; do
	# shellcheck disable=SC2064 # each trap names its own signal
	trap "cleanup; trap - $sig EXIT; kill -$sig \$\$" "$sig"
done

# $tmp/list: the drivers, as paths inside the folder $base, where
# tovrin-fw runs so that it names each driver as SOURCE holds it.
if [ -d "$src" ]; then
	kind=folder
	base=$(cd "$src" && pwd)
	(cd "$base" && find . -type f -iname cnxetu.sys) >"$tmp/found"
elif command -v bsdtar >/dev/null; then
	if bsdtar -tf "$src" >/dev/null 2>&1; then
		kind=package
		base=$tmp/x
		mkdir "$base"
		bsdtar -xf "$src" -C "$base" \
			'*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]' 2>/dev/null || true
		(cd "$base" && find . -type f) >"$tmp/found"
	else
		kind=driver
	fi
elif [ "$(basename "$src" | tr '[:upper:]' '[:lower:]')" = cnxetu.sys ]; then
	kind=driver
else
	die "bsdtar is needed to read \`$src' as a package: apt-get install libarchive-tools"
fi
if [ "$kind" = driver ]; then
	base=$PWD
	printf '%s\n' "$src" >"$tmp/list"
else
	sed 's|^\./||' "$tmp/found" | sort >"$tmp/list"
fi
[ -s "$tmp/list" ] || die "no CnxEtU.sys in \`$src' (read as a $kind)"

# Each driver's image, with its offset line; those without one are
# reported and passed over.
mkdir "$tmp/img"
tab=$(printf '\t')
n=0
found=0
while IFS= read -r path; do
	n=$((n + 1))
	if (cd "$base" && "$fw" "$path" "$tmp/img/$n") >"$tmp/out$n" 2>"$tmp/err$n"; then
		found=$((found + 1))
		printf '%s\t%s\t%s\n' "$n" "$path" \
			"$(sha256sum <"$tmp/img/$n" | cut -d' ' -f1)" >>"$tmp/images"
	else
		say "no firmware in \`$path':" >&2
		sed 's/^/    /' "$tmp/err$n" >&2
	fi
done <"$tmp/list"
[ "$found" -gt 0 ] || die "none of the $n drivers in \`$src' holds the firmware"

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
	mkdir -p "$dir" 2>/dev/null ||
		die "cannot create \`$dir' (the default needs root)"
	made=1
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
