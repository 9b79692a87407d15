#!/bin/sh
# Rebuilds vendor/: the sample driver packed as the modem's makers ship
# their drivers, to try the unpacking commands of the README on: a zip
# file, a Microsoft cabinet, self-extracting .exe files (a cabinet or a zip
# file behind a Windows program, as IExpress and WinZip make them), a 7-Zip
# archive and a CD image, whose plain ISO 9660 names are upper case.
# Needs zip, gcab, p7zip-full, genisoimage and gcc-mingw-w64-i686.
set -eu
cd "$(dirname "$0")"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/Driver/WinXP" "$tree/Driver/Win98"
cp sample-driver.sys "$tree/Driver/WinXP/CnxEtU.sys"
# shellcheck disable=SC2016 # $Windows NT$ is the .inf file's own text
printf '[Version]\r\nSignature="$Windows NT$"\r\n' >"$tree/Driver/WinXP/CnxEtU.inf"
printf 'Run Setup.exe to install the modem.\r\n' >"$tree/Readme.txt"
find "$tree" -exec touch -h -d 2004-06-01T00:00:00Z {} +

# The self-extractor's program: it only has to be a Windows executable.
printf 'void __stdcall start(void) {}\n' >"$tree/stub.c"
i686-w64-mingw32-gcc -Os -nostdlib -s -e _start@0 \
	-Wl,--no-insert-timestamp -o "$tree/stub.exe" "$tree/stub.c"

rm -rf vendor
mkdir vendor
out=$PWD/vendor
(
	cd "$tree"
	set -- Readme.txt Driver/WinXP/CnxEtU.sys Driver/WinXP/CnxEtU.inf
	zip -qX "$out/driver.zip" "$@"
	gcab -cz "$out/driver.cab" "$@"
	7z a -bd -bso0 -mtc=off -mta=off "$out/driver.7z" "$@"
	cat stub.exe "$out/driver.cab" >"$out/setup-cab.exe"
	cat stub.exe "$out/driver.zip" >"$out/setup-zip.exe"
	zip -qA "$out/setup-zip.exe"
	mkdir cd
	cp -pr Readme.txt Driver cd/
	genisoimage -quiet -no-pad -V CNXDRV -o "$out/driver.iso" cd
)
