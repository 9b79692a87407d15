#!/bin/sh
# The packages and files of cases.txt, which both tovrin-fw-install's
# suite and the page's read, made into DIR with the images they must
# give, as tovrin-fw writes them; once, until this script changes
# (DIR/made says that they are whole, and by which script).
# TOVRIN_FW and EXAMPLES name the build's tovrin-fw and the examples.
#
#   sh tests/cases.sh DIR
set -eu
dir=$1
# Made again when this script changes.
stamp=$(cksum <"$0")
[ "$(cat "$dir/made" 2>/dev/null)" != "$stamp" ] || exit 0
rm -rf "$dir" && mkdir -p "$dir/t"
cd "$dir"
trap 'rm -rf "$dir/t"' EXIT
sample=$EXAMPLES/sample-driver.sys
c=$EXAMPLES/sample-driver.c
big=$((16 * 1024 * 1024))

for f in vendor/driver.zip vendor/driver.cab vendor/setup-cab.exe \
	vendor/setup-zip.exe vendor/driver.7z vendor/driver.iso \
	sample-driver.sys sample-driver.c; do
	cp "$EXAMPLES/$f" .
done
# An image with a byte changed, and a driver that holds it.
cp "$sample" t/changed.sys
printf x | dd of=t/changed.sys bs=1 seek=$((0x6a0 + 99)) conv=notrunc 2>/dev/null
$TOVRIN_FW "$sample" image.bin >/dev/null
$TOVRIN_FW t/changed.sys other.bin >/dev/null

# pack NAME PATH=FROM...: a package of those files (FROM "link:TARGET" for
# a symbolic link), its kind by NAME's ending.
pack() {
	name=$1
	shift
	rm -rf t/tree && mkdir t/tree
	for spec; do
		path=${spec%%=*} from=${spec#*=}
		mkdir -p "t/tree/$(dirname "$path")"
		case $from in
		link:*) ln -s "${from#link:}" "t/tree/$path" ;;
		*) cp "$from" "t/tree/$path" ;;
		esac
	done
	(cd t/tree && bsdtar -a -cf "../../$name" -- *)
}
# sized NAME SIZE [FROM]: FROM (or nothing) made SIZE bytes, sparse.
sized() {
	rm -f "t/$1"
	[ $# -lt 3 ] || cp "$3" "t/$1"
	truncate -s "$2" "t/$1"
	echo "t/$1"
}

over=$(sized over.sys $((big + 1)) "$sample")
exact=$(sized exact.sys $big "$sample")
cp "$over" over.sys && cp "$exact" exact.sys
pack same.zip A/CnxEtU.sys="$sample" B/cnxetu.sys="$sample"
# The same image, the later path first in the package.
rm -rf t/rev && mkdir -p t/rev/A t/rev/B && cp "$sample" t/rev/A/CnxEtU.sys &&
	cp "$sample" t/rev/B/CnxEtU.sys && bsdtar -cf samerev.tar -C t/rev B A
pack other.zip A/CnxEtU.sys="$sample" B/CnxEtU.sys=t/changed.sys
pack three.zip A/CnxEtU.sys="$sample" B/CnxEtU.sys="$sample" \
	C/CnxEtU.sys=t/changed.sys
pack half.zip A/CnxEtU.sys="$sample" B/CnxEtU.sys="$c"
pack mixed.zip 1/CnxEtU.sys="$sample" 2/CnxEtU.sys="$sample" \
	3/CnxEtU.sys="$sample" 4/CnxEtU.sys="$sample" 5/CnxEtU.sys=t/changed.sys
pack none.zip Readme.txt="$c"
pack nofw.zip Driver/CnxEtU.sys="$c"
pack nofw2.zip A/CnxEtU.sys="$c" B/CnxEtU.sys="$c"
pack nofw5.zip 1/CnxEtU.sys="$c" 2/CnxEtU.sys="$c" 3/CnxEtU.sys="$c" \
	4/CnxEtU.sys="$c" 5/CnxEtU.sys="$c"
pack link.zip Driver/CnxEtU.sys=link:../Readme.txt Readme.txt="$c"
pack links5.zip 1/CnxEtU.sys=link:x 2/CnxEtU.sys=link:x 3/CnxEtU.sys=link:x \
	4/CnxEtU.sys=link:x 5/CnxEtU.sys=link:x R/CnxEtU.sys="$sample"
# The driver as a link to a file it must never read.
ln -s /etc/shadow t/link && bsdtar -cf link.tar -C t -s '/^link$/CnxEtU.sys/' link
# B/CnxEtU.sys a hard link to A/CnxEtU.sys.
rm -rf t/hard && mkdir -p t/hard/A t/hard/B && cp "$sample" t/hard/A/CnxEtU.sys &&
	ln t/hard/A/CnxEtU.sys t/hard/B/CnxEtU.sys && bsdtar -cf hardlink.tar -C t/hard A B
pack noise.zip Noise.bin="$(sized noise $((40 << 20)))" Driver/CnxEtU.sys="$sample"
pack exact.zip CnxEtU.sys="$exact"
pack over.zip CnxEtU.sys="$over"
pack beside.zip A/CnxEtU.sys="$over" B/CnxEtU.sys="$sample"
pack overnofw.zip A/CnxEtU.sys="$over" B/CnxEtU.sys="$c"
pack top.zip CnxEtU.sys="$over" x/CnxEtU.sys="$sample"
for n in 4 5 8; do
	set -- R/CnxEtU.sys="$sample"
	for i in $(seq "$n"); do set -- "$@" "$i/CnxEtU.sys=$over"; done
	pack "big$n.zip" "$@"
done
# Five different images, and what each gives.
set --
for i in 1 2 3 4 5; do
	cp "$sample" "t/i$i" && printf '%x' "$i" |
		dd of="t/i$i" bs=1 seek=$((0x6a0 + 99)) conv=notrunc 2>/dev/null
	$TOVRIN_FW "t/i$i" "i$i.bin" >/dev/null
	set -- "$@" "$i/CnxEtU.sys=t/i$i"
done
pack images5.zip "$@"
# Drivers that come to more than one at a time but within a package, more
# than any package, and one of no whole number of 64 KiB.
z8=$(sized z8 $((8 << 20)))
pack roomy.zip A/CnxEtU.sys="$z8" B/CnxEtU.sys="$z8" C/CnxEtU.sys="$z8" \
	D/CnxEtU.sys="$sample"
pack heavy.zip 1/CnxEtU.sys="$exact" 2/CnxEtU.sys="$exact" \
	3/CnxEtU.sys="$exact" 4/CnxEtU.sys="$exact" 5/CnxEtU.sys="$exact"
pack odd.zip CnxEtU.sys="$(sized odd $(((1 << 20) + 4321)) "$sample")"
# A package that states less than its driver holds.
pack understated.zip CnxEtU.sys="$(sized less $((1 << 20)) "$sample")"
at=$(grep -obUaP 'PK\x01\x02' understated.zip | tail -n 1 | cut -d: -f1)
printf '\000\042\000\000' | dd of=understated.zip bs=1 seek=$((at + 24)) conv=notrunc 2>/dev/null
# Real packages' kinds: Explorer's copies beside the driver, an owner of
# a directory login, 8,000 empty drivers beside the real one, and more
# than any package holds.
pack copyof.zip Driver/CnxEtU.sys="$sample" "Driver/Copy of CnxEtU.sys=$sample" \
	Driver/OldCnxEtU.sys="$sample"
mkdir -p t/users/Driver && cp "$sample" t/users/Driver/CnxEtU.sys &&
	bsdtar --uname "domain users" --gname "domain users" -cf users.tar -C t/users Driver
: >t/empty
rm -rf t/lots && mkdir -p t/lots/real && cp "$sample" t/lots/real/CnxEtU.sys
(cd t/lots && seq 10000 | xargs mkdir && for i in $(seq 10000); do : >"$i/CnxEtU.sys"; done)
bsdtar -a -cf toomany.zip -C t/lots .
(cd t/lots && seq 8001 10000 | xargs rm -r)
bsdtar -a -cf lots.zip -C t/lots .
# Names a real reader takes as they are: spaces, a newline, an arrow,
# %s, UTF-8, a way up, an absolute path, and one path twice.
rm -rf t/names && mkdir t/names
for d in "with space" "a
b" "a -> b" "%s x" "é"; do
	mkdir "t/names/$d" && cp "$sample" "t/names/$d/CnxEtU.sys"
done
(cd t/names && bsdtar -cf ../../names.tar -- *)
bsdtar -rf names.tar -P -C t/names/é -s ',^,../up/,' CnxEtU.sys
bsdtar -rf names.tar -P -C t/names/é -s ',^,/abs/,' CnxEtU.sys
bsdtar -rf names.tar -C t/names "with space/CnxEtU.sys"
# The vendor's packages cut short, as a broken download leaves them, one
# with data after its end, as a padded download leaves it, a
# self-extracting cabinet whose cabinet states 65535 files, and a file of
# no bytes.
for kind in zip cab 7z; do
	head -c $(($(wc -c <"driver.$kind") * 6 / 10)) "driver.$kind" >"cut.$kind"
done
{ cat driver.zip && head -c 4096 /dev/zero | tr '\0' U; } >padded.zip
cp setup-cab.exe bad-setup.exe
at=$(grep -obUa MSCF bad-setup.exe | head -n 1 | cut -d: -f1)
printf '\377\377' | dd of=bad-setup.exe bs=1 seek=$((at + 28)) conv=notrunc 2>/dev/null
: >empty
echo "$stamp" >made
