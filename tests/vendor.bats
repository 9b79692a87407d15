#!/usr/bin/env bats
# The README's commands that take CnxEtU.sys out of a vendor's package, run
# word for word on the packages in examples/vendor/ (each copied to a file
# named PACKAGE, as the README calls it), then tovrin-fw on what they gave.
# TOVRIN_FW names the binary, EXAMPLES the examples folder, README the
# README that must show each command.

bats_require_minimum_version 1.5.0

setup() {
	PATH="$(dirname "$TOVRIN_FW"):$PATH"
	cd "$BATS_TEST_TMPDIR"
}

# PACKAGE FILE|COMMAND
bsdtar="bsdtar -xf PACKAGE -s '|.*|CnxEtU.sys|' '*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]'"
table="driver.zip|$bsdtar
driver.cab|$bsdtar
setup-cab.exe|$bsdtar
setup-zip.exe|$bsdtar
driver.7z|$bsdtar
driver.iso|$bsdtar
driver.cab|cabextract -F '*cnxetu.sys' -p PACKAGE > CnxEtU.sys
setup-cab.exe|cabextract -F '*cnxetu.sys' -p PACKAGE > CnxEtU.sys
driver.zip|unzip -p -C PACKAGE '*cnxetu.sys' > CnxEtU.sys
setup-zip.exe|unzip -p -C PACKAGE '*cnxetu.sys' > CnxEtU.sys"

@test "each documented unpack command gives the driver, and tovrin-fw reads it" {
	while IFS='|' read -r package command; do
		grep -qF -- "    $command" "$README" ||
			{ echo "not in the README: $command"; return 1; }
		command -v "${command%% *}" >/dev/null ||
			skip "${command%% *} is not installed"
		rm -rf unpack && mkdir unpack && cd unpack
		cp "$EXAMPLES/vendor/$package" PACKAGE
		eval "$command" 2>/dev/null ||
			{ echo "$package: $command: failed"; return 1; }
		cmp CnxEtU.sys "$EXAMPLES/sample-driver.sys"
		run --separate-stderr tovrin-fw CnxEtU.sys tovrin-fw.bin
		[ "$status" -eq 0 ] || { echo "$package: $stderr"; return 1; }
		cd ..
	done <<<"$table"
}
