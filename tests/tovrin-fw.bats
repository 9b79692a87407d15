#!/usr/bin/env bats
# The built program, run as a user runs it.  TOVRIN_FW names the binary,
# EXAMPLES the folder that holds the sample driver.

bats_require_minimum_version 1.5.0

setup() {
	PATH="$(dirname "$TOVRIN_FW"):$PATH"
	cd "$BATS_TEST_TMPDIR"
	cp "$EXAMPLES/sample-driver.sys" driver.sys
	fwstart='1c249fe5 0010a0e3 001082e5 220000eb'
	bpstart='78209fe5 0110a0e3 001082e5 70209fe5'
}

# expect STATUS STDOUT STDERR -- ARGS...: one run, all three checked exactly.
expect() {
	local want_status=$1 want_out=$2 want_err=$3
	shift 4
	run --separate-stderr tovrin-fw "$@"
	[ "$output" = "$want_out" ] || { echo "stdout: $output"; return 1; }
	[ "$stderr" = "$want_err" ] || { echo "stderr: $stderr"; return 1; }
	[ "$status" -eq "$want_status" ] || { echo "status: $status"; return 1; }
}

hex16() { od -An -tx1 -j "$2" -N 16 "$1" | tr -d ' \n'; }

@test "extracts the sample driver's image exactly" {
	expect 0 "found firmware in \`driver.sys' at offset 0x6a0" "" -- driver.sys fw.bin
	size=$(stat -c %s fw.bin)
	[ "$size" -eq 4400 ]
	cmp fw.bin <(tail -c +$((0x6a0 + 1)) driver.sys | head -c "$size")
	[ "$(hex16 fw.bin 0)" = "${fwstart// /}" ]
	[ "$(hex16 driver.sys $((0x6a0 + size)))" = "${bpstart// /}" ]
}

@test "never overwrites an existing OUTFILE" {
	echo keep >fw.bin
	expect 1 "" "tovrin-fw: failed to open \`fw.bin' for writing: File exists" -- driver.sys fw.bin
	[ "$(cat fw.bin)" = keep ]
}

@test "the same path for INFILE and OUTFILE leaves it untouched" {
	expect 1 "" "tovrin-fw: failed to open \`driver.sys' for writing: File exists" -- driver.sys driver.sys
	cmp driver.sys "$EXAMPLES/sample-driver.sys"
}

@test "reports each failure with the system's reason and creates nothing" {
	: >empty
	printf 'plain text, long enough to be mapped and looked at ....\n%.0s' 1 2 >text
	expect 1 "" "tovrin-fw: failed to open \`nope' for reading: No such file or directory" -- nope fw.bin
	expect 1 "" "tovrin-fw: failed to mmap \`empty': Invalid argument" -- empty fw.bin
	expect 1 "" "tovrin-fw: file is not a DOS executable
tovrin-fw: can't find AccessRunner firmware in \`text'" -- text fw.bin
	expect 1 "" "tovrin-fw: failed to open \`no/fw.bin' for writing: No such file or directory" -- driver.sys no/fw.bin
	[ ! -e fw.bin ]
}

@test "command-line errors stop with status 64 before any file is touched" {
	for args in "" "driver.sys" "driver.sys fw.bin extra" "--bogus driver.sys fw.bin"; do
		run --separate-stderr tovrin-fw $args
		[ "$status" -eq 64 ]
		[ -z "$output" ]
		[[ "$stderr" == *"Try \`tovrin-fw --help' or \`tovrin-fw --usage' for more information."* ]]
		[ ! -e fw.bin ]
	done
}

@test "--help shows the description right after the usage line" {
	run --separate-stderr tovrin-fw --help
	[ "$status" -eq 0 ]
	[ "${lines[0]}" = "Usage: tovrin-fw [OPTION...] INFILE OUTFILE" ]
	[ "${lines[1]}" = "Firmware extractor for Conexant AccessRunner ADSL USB modems" ]
	[ "${lines[2]}" = "INFILE - Windows driver file containing firmware (usually CnxEtU.sys)" ]
	[ "${lines[3]}" = "OUTFILE - firmware image (usually tovrin-fw.bin)" ]
	[ "${lines[-1]}" = "Report bugs to <tovrin-fw-general at lists dot example dot org>." ]
}

@test "--version and --usage" {
	expect 0 "002" "" -- --version
	expect 0 "002" "" -- -V
	expect 0 "Usage: tovrin-fw [-?V] [--help] [--usage] [--version] INFILE OUTFILE" "" -- --usage
}

@test "refuses a driver over 2 GiB instead of reading it short" {
	truncate -s 2147483648 big
	expect 1 "" "tovrin-fw: failed to obtain the size of \`big': Value too large for defined data type" -- big fw.bin
	[ ! -e fw.bin ]
}

@test "a driver of exactly 2 GiB - 1 bytes gets past the size check" {
	truncate -s 2147483647 big
	run --separate-stderr tovrin-fw big fw.bin
	[ "$status" -eq 1 ]
	[[ "$stderr" != *"size of"* ]]
	[ ! -e fw.bin ]
}

@test "a file-size limit fails the write and leaves no file" {
	# 2 KiB allowed, SIGXFSZ at its default: the first write stops short,
	# the second one fails instead of killing the process.
	run --separate-stderr bash -c 'ulimit -f 2; exec tovrin-fw "$@"' - driver.sys fw.bin
	[ "$stderr" = "tovrin-fw: failed to write firmware to \`fw.bin': File too large" ]
	[ "$status" -eq 1 ]
	[ ! -e fw.bin ]
}

# FAULT|ENV|STATUS|LEFT|STDERR, one run a row: the faults (tests/fault.cpp),
# each of which must fire, env(1)'s options for the signals that the
# caller ignores, the status (128 + N is death by signal N), whether
# OUTFILE is left complete (image) or not at all (none), and the message.
faults="open-in:EACCES||1|none|failed to open \`driver.sys' for reading: Permission denied
fstat:EIO||1|none|failed to obtain the size of \`driver.sys': Input/output error
mmap:ENOMEM||1|none|failed to mmap \`driver.sys': Cannot allocate memory
mmap:cut||1|none|failed to mmap \`driver.sys': Input/output error
open-out:EDQUOT||1|none|failed to open \`fw.bin' for writing: Disk quota exceeded
open-out:cut||1|none|failed to mmap \`driver.sys': Input/output error
open-out:SIGTERM||143|none|
write:half||0|image|
write:all-but-1||0|image|
write:0||1|none|failed to write firmware to \`fw.bin': Input/output error
write:half,EIO||1|none|failed to write firmware to \`fw.bin': Input/output error
write:half,ENOSPC||1|none|failed to write firmware to \`fw.bin': No space left on device
write:SIGTERM||143|none|
write:SIGINT||130|none|
write:SIGHUP||129|none|
write:SIGTERM|--ignore-signal=TERM|0|image|
write:SIGHUP|--ignore-signal=HUP|0|image|
close:EIO||1|none|failed to write firmware to \`fw.bin': Input/output error
write:EIO close:EDQUOT||1|none|failed to write firmware to \`fw.bin': Input/output error
munmap:SIGTERM||143|image|
munmap:SIGXFSZ||153|image|
argp:ENOMEM||64|none|failed to parse arguments: Cannot allocate memory"

@test "each failing system call or signal: its message, its status, no partial OUTFILE" {
	[ -n "${FAULT_ENV-}" ] || skip "no fault injection on this build"
	ulimit -c 0 # SIGXFSZ would dump core
	while IFS='|' read -r fault ignore want_status left want_err; do
		cp "$EXAMPLES/sample-driver.sys" driver.sys
		rm -f fw.bin fired
		# Signals at their defaults but those the row ignores; a hang
		# fails the row, not the suite.
		run --separate-stderr timeout 10 env --default-signal $ignore \
			$FAULT_ENV TOVRIN_FW_FAULT="$fault" TOVRIN_FW_FAULT_LOG=fired \
			tovrin-fw driver.sys fw.bin
		[ "$status" -ne 124 ] || { echo "$fault: timed out"; return 1; }
		for f in $fault; do
			grep -qxF "$f" fired 2>/dev/null ||
				{ echo "$fault: $f was never injected"; return 1; }
		done
		[ "$status" -eq "$want_status" ] || { echo "$fault: status $status"; return 1; }
		[ "$stderr" = "${want_err:+tovrin-fw: $want_err}" ] || { echo "$fault: $stderr"; return 1; }
		if [ "$left" = image ]; then
			cmp fw.bin <(tail -c +$((0x6a0 + 1)) driver.sys | head -c 4400) ||
				{ echo "$fault: no complete image"; return 1; }
		else
			[ ! -e fw.bin ] || { echo "$fault: fw.bin left"; return 1; }
		fi
	done <<<"$faults"
}
