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

# PACKAGE FILE|COMMAND: each must put the one driver into drivers/, in
# the folder it has in the package.
bsdtar="mkdir drivers && bsdtar -xf PACKAGE -C drivers '*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]'"
cabextract="cabextract -d drivers -F '*cnxetu.sys' PACKAGE"
unzip="unzip -C PACKAGE '*cnxetu.sys' -d drivers"
table="driver.zip|$bsdtar
driver.cab|$bsdtar
setup-cab.exe|$bsdtar
setup-zip.exe|$bsdtar
driver.7z|$bsdtar
driver.iso|$bsdtar
driver.cab|$cabextract
setup-cab.exe|$cabextract
driver.zip|$unzip
setup-zip.exe|$unzip"

@test "each documented unpack command gives the driver, and tovrin-fw reads it" {
	while IFS='|' read -r package command; do
		grep -qF -- "    $command" "$README" ||
			{ echo "not in the README: $command"; return 1; }
		tool=${command#mkdir drivers && }
		command -v "${tool%% *}" >/dev/null ||
			skip "${tool%% *} is not installed"
		rm -rf unpack && mkdir unpack && cd unpack
		cp "$EXAMPLES/vendor/$package" PACKAGE
		eval "$command" >/dev/null 2>&1 ||
			{ echo "$package: $command: failed"; return 1; }
		driver=$(find drivers -type f)
		cmp "$driver" "$EXAMPLES/sample-driver.sys"
		run --separate-stderr tovrin-fw "$driver" tovrin-fw.bin
		[ "$status" -eq 0 ] || { echo "$package: $stderr"; return 1; }
		cd ..
	done <<<"$table"
}
