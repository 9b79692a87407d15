#!/usr/bin/env bats
# `cmake --install` of the build in BUILD_DIR, staged under a fresh DESTDIR
# as a packager installs.  EMULATOR, when set, runs the installed program
# (a 32-bit build on a host that runs no i386 programs).  SOURCE_DIR is the
# source tree, for a build of the test's own.

# Installs the build in $1 under $2/usr, as cpack does, so that it is
# not recorded for uninstall.
install_staged() {
	DESTDIR="$2" cmake --install "$1" --prefix /usr >/dev/null
}

setup() {
	prefix="$BATS_TEST_TMPDIR/staged/usr"
	install_staged "$BUILD_DIR" "$BATS_TEST_TMPDIR/staged"
}

@test "installs working programs and the copyright file" {
	[ "$($EMULATOR "$prefix/bin/tovrin-fw" --version)" = 002 ]
	[ "$($EMULATOR "$prefix/bin/tovrin-fw-install" --version)" = 002 ]
	[ -f "$prefix/share/doc/tovrin-fw/copyright" ]
	# The installed script finds its catalogs beside itself.
	localedef -i de_DE -f UTF-8 "$BATS_TEST_TMPDIR/de_DE.UTF-8"
	[[ "$(LOCPATH=$BATS_TEST_TMPDIR LC_ALL='' LANGUAGE='' LANG=de_DE.UTF-8 \
		$EMULATOR "$prefix/bin/tovrin-fw-install" --help)" == Aufruf:* ]]
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
		"OPTIONS" "--version" "WHERE TO GET THE DRIVER" "EXIT STATUS" "DIAGNOSTICS" \
		"firmware start sequence not found" "SEE ALSO" \
		"/lib/firmware/" \
		"Report bugs to <tovrin-fw-general at lists dot example dot org>."; do
		[[ "$output" == *"$text"* ]] || { echo "missing: $text"; return 1; }
	done
	# tovrin-fw-install's page explains what it says when it fails.
	run env MANWIDTH=300 man -l "$prefix/share/man/man1/tovrin-fw-install.1.gz"
	for text in "cannot read \`SOURCE'" "is damaged or cut short" "was stopped while reading" \
		"no CnxEtU.sys in" "larger than any driver" "holds no firmware" \
		"neither a package that libarchive can read nor a driver" \
		"libarchive is needed to read it" "hold different images"; do
		[[ "$output" == *"$text"* ]] || { echo "tovrin-fw-install(1) lacks: $text"; return 1; }
	done
}

@test "uninstall removes exactly what install put under its prefix, whatever ran since" {
	# A build of its own: the test must not undo an install of the user's.
	build="$BATS_TEST_TMPDIR/build"
	cmake -S "$SOURCE_DIR" -B "$build" -G Ninja -DBUILD_TESTING=OFF >/dev/null
	cmake --build "$build" >/dev/null
	# A prefix with a file and an empty folder of the user's, and a second
	# prefix installed to from the same build.
	live="$BATS_TEST_TMPDIR/live" second="$BATS_TEST_TMPDIR/second"
	mkdir -p "$live/share/doc/other" "$live/bin"
	echo keep >"$live/share/doc/other/README"

	cmake --install "$build" --prefix "$live" >/dev/null
	cmake --install "$build" --prefix "$second" >/dev/null
	[ -x "$live/bin/tovrin-fw" ]
	# The user's own notes in our folder keep it.
	echo mine >"$second/share/doc/tovrin-fw/NOTES"
	(cd "$build" && cpack -G DEB >/dev/null)
	install_staged "$build" "$BATS_TEST_TMPDIR/again"
	# Neither cpack's install nor the staged one may be undone.
	[ -z "$(grep -v -e "^$live/" -e "^$second/" "$build/install_record.txt")" ]
	cmake --build "$build" --target uninstall >/dev/null

	[ "$(find "$live" -type f)" = "$live/share/doc/other/README" ]
	[ -d "$live/bin" ]
	[ -z "$(find "$live" -name 'tovrin-fw*')" ]
	[ "$(find "$second" -type f)" = "$second/share/doc/tovrin-fw/NOTES" ]
	[ -f "$BATS_TEST_TMPDIR/again/usr/bin/tovrin-fw" ]
	[ ! -e "$build/install_record.txt" ]
}
