#!/usr/bin/env bats
# tovrin-fw-install, run as a user runs it.  INSTALLER names the script,
# TOVRIN_FW the tovrin-fw that it runs, EXAMPLES the examples folder.

bats_require_minimum_version 1.5.0

setup() {
	cd "$BATS_TEST_TMPDIR"
	export TOVRIN_FW TMPDIR="$BATS_TEST_TMPDIR/tmp"
	mkdir tmp
	tail -c +$((0x6a0 + 1)) "$EXAMPLES/sample-driver.sys" | head -c 4400 >image
	# Two drivers with one image, two with different ones (a byte of the
	# second image changed), and none.
	mkdir -p same/A same/B other/A other/B none
	for d in same/A/CnxEtU.sys same/B/cnxetu.sys other/A/CnxEtU.sys other/B/CnxEtU.sys; do
		cp "$EXAMPLES/sample-driver.sys" "$d"
	done
	printf x | dd of=other/B/CnxEtU.sys bs=1 seek=$((0x6a0 + 99)) conv=notrunc 2>/dev/null
	echo readme >none/Readme.txt
	for tree in same other none; do (cd $tree && bsdtar -a -cf ../$tree.zip .); done
}

# install STATUS INSTALLED SAYS -- ARGS: one run into fw/; INSTALLED is the
# file that fw/tovrin-fw.bin must then equal, or "none" for no fw/.  SAYS
# must stand in its output; nothing else is left in fw/ nor in TMPDIR.
install() {
	local want_status=$1 want=$2 says=$3
	shift 4
	run "$INSTALLER" --firmware-dir fw "$@"
	[ "$status" -eq "$want_status" ] || { echo "$*: status $status: $output"; return 1; }
	[[ "$output" == *"$says"* ]] || { echo "$*: does not say: $says: $output"; return 1; }
	[ -z "$(ls -A tmp)" ] || { echo "$*: left in TMPDIR: $(ls -A tmp)"; return 1; }
	if [ "$want" = none ]; then
		[ ! -e fw ] || { echo "$*: made fw/"; return 1; }
		return 0
	fi
	cmp fw/tovrin-fw.bin "$want" || { echo "$*: wrong fw/tovrin-fw.bin"; return 1; }
	[ "$(ls -A fw)" = tovrin-fw.bin ] || { echo "$*: fw/ holds $(ls -A fw)"; return 1; }
	[ "$(stat -c %a fw/tovrin-fw.bin)" = 644 ]
}

@test "each kind of SOURCE" {
	while IFS='|' read -r source want_status want says; do
		rm -rf fw
		install "$want_status" "$want" "$says" -- "${source/#EXAMPLES/$EXAMPLES}" || return 1
	done <<EOF
EXAMPLES/vendor/driver.zip|0|image|found firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0
EXAMPLES/vendor/driver.cab|0|image|found firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0
EXAMPLES/vendor/setup-cab.exe|0|image|found firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0
EXAMPLES/vendor/setup-zip.exe|0|image|found firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0
EXAMPLES/vendor/driver.7z|0|image|found firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0
EXAMPLES/vendor/driver.iso|0|image|found firmware in \`DRIVER/WINXP/CNXETU.SYS' at offset 0x6a0
other/A/CnxEtU.sys|0|image|found firmware in \`other/A/CnxEtU.sys' at offset 0x6a0
same|0|image|2 drivers in \`same' hold the same image
same.zip|0|image|using \`A/CnxEtU.sys' from \`same.zip'
other.zip|1|none|A/CnxEtU.sys: 4400 bytes, sha256 $(sha256sum <image | cut -d' ' -f1)
none.zip|1|none|no CnxEtU.sys in \`none.zip' (read as a package)
EXAMPLES/sample-driver.c|1|none|none of the 1 drivers in
missing|1|none|cannot read \`missing': No such file or directory
EOF
}

@test "each state of the firmware folder" {
	echo old >old
	while IFS='|' read -r state option want_status want says; do
		rm -rf fw && mkdir fw
		case $state in
		missing) rm -r fw ;;
		same) cp image fw/tovrin-fw.bin && chmod 644 fw/tovrin-fw.bin &&
			inode=$(stat -c %i fw/tovrin-fw.bin) ;;
		other) cp old fw/tovrin-fw.bin && chmod 644 fw/tovrin-fw.bin ;;
		esac
		install "$want_status" "$want" "$says" -- $option "$EXAMPLES/vendor/driver.zip" || return 1
		[ "$state" != same ] || [ "$(stat -c %i fw/tovrin-fw.bin)" = "$inode" ]
	done <<EOF
missing||0|image|installed \`fw/tovrin-fw.bin'
same||0|image|already holds this image: left as it is
other||1|old|holds another image: left as it is (--force replaces it)
other|--force|0|image|installed \`fw/tovrin-fw.bin'
EOF
}

@test "usage errors, and the version of tovrin-fw" {
	for args in "" "a b" "--bogus a" "--firmware-dir"; do
		run "$INSTALLER" $args
		[ "$status" -eq 64 ] || { echo "$args: status $status"; return 1; }
	done
	[ "$("$INSTALLER" --version)" = "$("$TOVRIN_FW" --version)" ]
}
