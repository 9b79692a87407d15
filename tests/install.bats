#!/usr/bin/env bats
# `cmake --install` of the build in BUILD_DIR, into a fresh prefix.
# EMULATOR, when set, runs the installed program (a 32-bit build on a host
# that runs no i386 programs).

setup() {
	prefix="$BATS_TEST_TMPDIR/prefix"
	cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
}

@test "installs a working binary and the copyright file" {
	[ "$($EMULATOR "$prefix/bin/tovrin-fw" --version)" = 002 ]
	[ -f "$prefix/share/doc/tovrin-fw/copyright" ]
}

@test "installs a manual page that renders with its own sections" {
	page="$prefix/share/man/man1/tovrin-fw.1.gz"
	[ -f "$BUILD_DIR/tovrin-fw.1.gz" ] || skip "built without the manual page"
	command -v man >/dev/null || skip "no man to render it"
	run man -l "$page"
	[ "$status" -eq 0 ]
	for text in "tovrin-fw [OPTION...] INFILE OUTFILE" \
		"Firmware extractor for Conexant AccessRunner ADSL USB modems" \
		"INFILE - Windows driver file containing firmware (usually CnxEtU.sys)" \
		"OUTFILE - firmware image (usually tovrin-fw.bin)" \
		"--version" "WHERE TO GET THE DRIVER" "EXIT STATUS" "DIAGNOSTICS" \
		"firmware start sequence not found" "SEE ALSO" \
		"/lib/firmware/" \
		"Report bugs to <tovrin-fw-general at lists dot example dot org>."; do
		[[ "$output" == *"$text"* ]] || { echo "missing: $text"; return 1; }
	done
}
