#!/usr/bin/env bats
# tovrin-fw-install, run as a user runs it.  INSTALLER names the program,
# HOSTILE its test build with a hostile stand-in for libarchive, BARE one
# that finds no libarchive, TOVRIN_FW
# the tovrin-fw of the build, EXAMPLES the examples folder, FAULT_ENV what
# makes its system calls fail.

bats_require_minimum_version 1.5.0

# A German locale of the tests' own: a fresh system may have none but C,
# under which gettext keeps to English.  The sources, made once; each
# test has its own copy.
setup_file() {
	mkdir "$BATS_FILE_TMPDIR/locale" "$BATS_FILE_TMPDIR/sources"
	localedef -i de_DE -f UTF-8 "$BATS_FILE_TMPDIR/locale/de_DE.UTF-8"
	localedef -i pl_PL -f UTF-8 "$BATS_FILE_TMPDIR/locale/pl_PL.UTF-8"
	localedef -i pt_BR -f UTF-8 "$BATS_FILE_TMPDIR/locale/pt_BR.UTF-8"
	localedef -i it_IT -f UTF-8 "$BATS_FILE_TMPDIR/locale/it_IT.UTF-8"
	cd "$BATS_FILE_TMPDIR/sources"
	tail -c +$((0x6a0 + 1)) "$EXAMPLES/sample-driver.sys" | head -c 4400 >image
	# Two drivers with one image, two with different ones (a byte of the
	# second image changed), none, one that is no driver, and beside a
	# driver one larger than any driver could be.
	mkdir -p same/A same/B other/A other/B empty nofw big/A big/B over exact
	for d in same/A/CnxEtU.sys same/B/cnxetu.sys other/A/CnxEtU.sys \
		other/B/CnxEtU.sys big/B/CnxEtU.sys; do
		cp "$EXAMPLES/sample-driver.sys" "$d"
	done
	printf x | dd of=other/B/CnxEtU.sys bs=1 seek=$((0x6a0 + 99)) conv=notrunc 2>/dev/null
	echo readme >nofw/CnxEtU.sys
	truncate -s $((16 * 1024 * 1024 + 1)) big/A/CnxEtU.sys
	cp big/A/CnxEtU.sys over/
	# A driver of exactly the bound, which holds the image.
	cp "$EXAMPLES/sample-driver.sys" exact/CnxEtU.sys
	truncate -s $((16 * 1024 * 1024)) exact/CnxEtU.sys
	# Five drivers of the bound: more than any package holds.  Four too
	# large beside the real one.
	mkdir -p crowd/A
	for i in 1 2 3 4 5; do mkdir -p heavy/$i && cp exact/CnxEtU.sys heavy/$i/; done
	for i in 1 2 3 4; do mkdir crowd/$i && cp big/A/CnxEtU.sys crowd/$i/; done
	cp "$EXAMPLES/sample-driver.sys" crowd/A/CnxEtU.sys
	# Counts of alike lines that are said whole (4), and summed up (5, 8):
	# drivers too large beside the real one, drivers without firmware, and
	# different images; and one too large beside one without firmware.
	for count in 4 5 8; do
		for i in $(seq "$count"); do
			mkdir -p big$count/$i nofw$count/$i images$count/$i
			cp big/A/CnxEtU.sys big$count/$i/
			cp nofw/CnxEtU.sys nofw$count/$i/
			cp "$EXAMPLES/sample-driver.sys" images$count/$i/CnxEtU.sys
			printf '%x' "$i" | dd of=images$count/$i/CnxEtU.sys bs=1 \
				seek=$((0x6a0 + 99)) conv=notrunc 2>/dev/null
		done
		mkdir big$count/R && cp "$EXAMPLES/sample-driver.sys" big$count/R/CnxEtU.sys
	done
	# A folder as a crafted stick may hold it: a file x, a driver whose
	# folders' names hold newlines, and a link to /etc.
	mkdir -p "crafted/x
3 l/hostname
q" && cp "$EXAMPLES/sample-driver.sys" crafted/x && : >"crafted/x
3 l/hostname
q/CnxEtU.sys" && ln -s /etc crafted/l
	mkdir -p overnofw/A overnofw/B
	cp big/A/CnxEtU.sys overnofw/A/ && cp nofw/CnxEtU.sys overnofw/B/
	for tree in other big heavy crowd; do (cd $tree && bsdtar -a -cf ../$tree.zip .); done
	# The vendor's package and a folder where only their owner may read
	# them, and the package itself so.
	mkdir -m 0700 private && cp -r "$EXAMPLES/vendor/driver.zip" same private/
	cp "$EXAMPLES/vendor/driver.7z" mine.7z && chmod 0600 mine.7z
	# The vendor's package cut short, as a broken download leaves it.
	head -c $(($(wc -c <"$EXAMPLES/vendor/driver.7z") * 6 / 10)) \
		"$EXAMPLES/vendor/driver.7z" >cut.7z
	# The cases the page shares.
	sh "$BATS_TEST_DIRNAME/cases.sh" "$BATS_FILE_TMPDIR/cases"
}

setup() {
	cd "$BATS_TEST_TMPDIR"
	cp -a "$BATS_FILE_TMPDIR/sources/." .
	export TOVRIN_FW TMPDIR="$BATS_TEST_TMPDIR/tmp"
	mkdir tmp
}

# The ways a run is made, besides plainly: where libarchive is not to be
# had (a test build's); with a system call failing.
plain() { "$@"; }
no_libarchive() {
	shift
	"$BARE" "$@"
}
# pick PATH ...: the run told which driver to take.
pick() {
	local path=$1 installer=$2
	shift 2
	"$installer" --driver "$path" "$@"
}
fault() {
	local how=$1
	shift
	# shellcheck disable=SC2086 # FAULT_ENV is words
	env $FAULT_ENV TOVRIN_FW_FAULT="$how" "$@"
}
# The hostile stand-in, doing what its word says once the reader is
# sealed.
hostile() {
	local attack=$1
	shift 2
	TOVRIN_FW_HOSTILE=$attack "$HOSTILE" "$@"
}
# In German, as a German system's LANG asks; and so asked, but without
# gettext, as on a minimal system.  In Polish, Brazil's Portuguese and
# Italian.
german() {
	LOCPATH=$BATS_FILE_TMPDIR/locale LC_ALL='' LC_MESSAGES='' LANGUAGE='' \
		LANG=de_DE.UTF-8 "$@"
}
polish() {
	LOCPATH=$BATS_FILE_TMPDIR/locale LC_ALL='' LC_MESSAGES='' LANGUAGE='' \
		LANG=pl_PL.UTF-8 "$@"
}
brazilian() {
	LOCPATH=$BATS_FILE_TMPDIR/locale LC_ALL='' LC_MESSAGES='' LANGUAGE='' \
		LANG=pt_BR.UTF-8 "$@"
}
italian() {
	LOCPATH=$BATS_FILE_TMPDIR/locale LC_ALL='' LC_MESSAGES='' LANGUAGE='' \
		LANG=it_IT.UTF-8 "$@"
}
# The machine's /usr/lib/firmware a folder of the test's, loaded/, and
# the loader's path parameter naming custom/.
loader() {
	printf '%s\n' "$PWD/custom" >param
	# shellcheck disable=SC2016 # expanded by the inner shell
	unshare --mount sh -c 'mount --bind "$0" /usr/lib/firmware &&
		mount --bind "$1" /sys/module/firmware_class/parameters/path &&
		shift && exec "$@"' "$PWD/loaded" "$PWD/param" "$@"
}
# Asked for German where no German locale is there, as on a minimal
# system: English.
no_locale() {
	LOCPATH=$BATS_FILE_TMPDIR/none LC_ALL='' LC_MESSAGES='' LANGUAGE='' \
		LANG=de_DE.UTF-8 "$@"
}
# Files up to 4 MiB: what is left out must not be unpacked at all.
small_files() { (ulimit -f 8192 && "$@"); }
# Less memory than the reader's buffer for one driver.
no_memory() { (ulimit -v 8192 && "$@"); }
# install STATUS INSTALLED SAYS WITH ARGS: one run, made as WITH says;
# INSTALLED is the file that fw/tovrin-fw.bin must then equal, "link" for
# the link left there, or "none" for no fw/ (nor a/).  SAYS must stand in
# its output, or be all of it after a "=" (\n for each line end in both);
# nothing else is left in fw/ nor in TMPDIR.  WITH may give words to its
# way.  Whatever the package, the output stays a few short lines, all the
# installer's own.
install() {
	local want_status=$1 want=$2 says=$3 with=$4
	shift 4
	# shellcheck disable=SC2086 # the way and its words
	run $with "$INSTALLER" "$@"
	[ "$status" -eq "$want_status" ] || { echo "$*: status $status: $output"; return 1; }
	[ "${#lines[@]}" -le 10 ] && ! grep -q -e '.\{400\}' <<<"$output" &&
		! grep -v -q -e '^tovrin-fw-install: ' -e '^found firmware in ' -e '^    ' <<<"$output" ||
		{ echo "$*: long, or not its own: $output"; return 1; }
	case $says in
	=*) [ "$output" = "$(printf '%b' "${says#=}")" ] ||
		{ echo "$*: says not just: $says: $output"; return 1; } ;;
	*) [[ "$output" == *"$(printf '%b' "$says")"* ]] ||
		{ echo "$*: does not say: $says: $output"; return 1; } ;;
	esac
	[ -z "$(ls -A tmp)" ] || { echo "$*: left in TMPDIR: $(ls -A tmp)"; return 1; }
	case $want in
	none)
		[ ! -e fw ] && [ ! -e a ] || { echo "$*: made fw/ or a/"; return 1; }
		return 0 ;;
	link) [ "$(readlink fw/tovrin-fw.bin)" = nowhere ] ||
		{ echo "$*: replaced the link"; return 1; } ;;
	*) cmp fw/tovrin-fw.bin "$want" || { echo "$*: wrong fw/tovrin-fw.bin"; return 1; } ;;
	esac
	[ "$(ls -A fw)" = tovrin-fw.bin ] || { echo "$*: fw/ holds $(ls -A fw)"; return 1; }
	[ "$want" = link ] || [ "$(stat -c %a fw/tovrin-fw.bin)" = 644 ]
}

@test "each kind of SOURCE" {
	# Under AddressSanitizer, whose shadow is far larger, no run starts in
	# little memory.
	asan=$(ldd "$INSTALLER" | grep -c libasan || true)
	while IFS='|' read -r source want_status want says with; do
		[[ "$with/$asan" != *no_memory/1 ]] || continue
		rm -rf fw
		source=${source/#CASES/$BATS_FILE_TMPDIR/cases}
		install "$want_status" "$want" "$says" "${with:-plain}" \
			--firmware-dir fw -- "${source/#EXAMPLES/$EXAMPLES}" || return 1
	done <<EOF
other/A/CnxEtU.sys|0|image|found firmware in \`other/A/CnxEtU.sys' at offset 0x6a0
same|0|image|2 drivers in \`same' hold the same image
other|1|none|pick one: give its path in \`other' as SOURCE
empty|1|none|no CnxEtU.sys in \`empty' (read as a folder)
big.zip|0|image|\`A/CnxEtU.sys' in \`big.zip' is 16777217 bytes, larger than any driver (16 MiB at most): left out|small_files
big|0|image|\`A/CnxEtU.sys' in \`big' is 16777217 bytes, larger than any driver (16 MiB at most): left out
missing|1|none|cannot read \`missing': No such file or directory
EXAMPLES/sample-driver.sys|0|image|found firmware in \`$EXAMPLES/sample-driver.sys' at offset 0x6a0|no_libarchive
EXAMPLES/vendor/driver.zip|1|none|\`$EXAMPLES/vendor/driver.zip' is not a driver; if it is the vendor's package, libarchive is needed to read it: install libarchive13 (without network, see tovrin-fw-install --help), or take the firmware out with the offline page tovrin-fw-$("$TOVRIN_FW" --version).html on any computer|no_libarchive
same|0|image|2 drivers in \`same' hold the same image|no_libarchive
exact|0|image|using \`CnxEtU.sys' from \`exact'
over|1|none|=tovrin-fw-install: \`CnxEtU.sys' in \`over' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: no CnxEtU.sys in \`over' is small enough to be a driver
EXAMPLES/vendor/driver.zip|0|image|=tovrin-fw-install: „Driver/WinXP/CnxEtU.sys“ aus „$EXAMPLES/vendor/driver.zip“ wird verwendet\nfound firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0\ntovrin-fw-install: „fw/tovrin-fw.bin“ installiert\ntovrin-fw-install: als Nächstes: der Firmware-Lader des Kernels sucht nicht im Ordner „fw“: führen Sie auf dem Rechner, an den das Modem angeschlossen ist, als root install -D -m 0644 fw/tovrin-fw.bin /lib/firmware/tovrin-fw.bin aus und stecken Sie dann das Modem (erneut) ein|german
EXAMPLES/vendor/driver.zip|0|image|=tovrin-fw-install: using \`Driver/WinXP/CnxEtU.sys' from \`$EXAMPLES/vendor/driver.zip'\nfound firmware in \`Driver/WinXP/CnxEtU.sys' at offset 0x6a0\ntovrin-fw-install: installed \`fw/tovrin-fw.bin'\ntovrin-fw-install: next: the kernel's firmware loader does not look in \`fw': on the computer the modem is connected to, run install -D -m 0644 fw/tovrin-fw.bin /lib/firmware/tovrin-fw.bin as root, then plug the modem in (again)|no_locale
heavy.zip|1|none|=tovrin-fw-install: die Treiber in „heavy.zip“ umfassen zusammen 83886080 Bytes und damit mehr, als ein Paket enthalten kann (höchstens 64 MiB): abgelehnt|german
cut.7z|1|none|=tovrin-fw-install: die Datei „cut.7z“ ist beschädigt oder unvollständig (libarchive konnte sie nicht ganz lesen): laden oder kopieren Sie sie erneut|german
EXAMPLES/vendor/driver.zip|1|none|cannot rename \`fw/.tovrin-fw.bin.|fault rename:EIO
EXAMPLES/vendor/driver.zip|1|none|at offset 0x6a0\ntovrin-fw-install: cannot write \`fw/.tovrin-fw.bin.|fault fsync:EIO
heavy.zip|1|none|=tovrin-fw-install: the drivers in \`heavy.zip' come to 83886080 bytes, more than any package holds (64 MiB at most): refused|small_files
heavy|1|none|the drivers in \`heavy' come to 83886080 bytes
crowd.zip|0|image|\`4/CnxEtU.sys' in \`crowd.zip' is 16777217 bytes, larger than any driver (16 MiB at most): left out|small_files
private/driver.zip|0|image|using \`Driver/WinXP/CnxEtU.sys' from \`private/driver.zip'
private/same|0|image|2 drivers in \`private/same' hold the same image
mine.7z|0|image|using \`Driver/WinXP/CnxEtU.sys' from \`mine.7z'
big4|0|image|tovrin-fw-install: \`1/CnxEtU.sys' in \`big4' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: \`2/CnxEtU.sys' in \`big4' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: \`3/CnxEtU.sys' in \`big4' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: \`4/CnxEtU.sys' in \`big4' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: using \`R/CnxEtU.sys' from \`big4'
big5|0|image|tovrin-fw-install: 2 more CnxEtU.sys in \`big5' are larger than any driver: left out
big8|0|image|tovrin-fw-install: \`3/CnxEtU.sys' in \`big8' is 16777217 bytes, larger than any driver (16 MiB at most): left out\ntovrin-fw-install: 5 more CnxEtU.sys in \`big8' are larger than any driver: left out
EXAMPLES/vendor/driver.zip|0|image|usando “Driver/WinXP/CnxEtU.sys” de “$EXAMPLES/vendor/driver.zip”|brazilian
big5|0|image|mais 2 CnxEtU.sys em “big5” são maiores do que qualquer driver: deixados de fora|brazilian
big5|0|image|2 weitere CnxEtU.sys in „big5“ sind größer als jeder Treiber: ausgelassen|german
big8|0|image|5 weitere CnxEtU.sys in „big8“ sind größer als jeder Treiber: ausgelassen|german
big4|0|image|plik „4/CnxEtU.sys” w „big4” ma 16777217 bajtów, więcej niż jakikolwiek sterownik (najwyżej 16 MiB): pominięto go\ntovrin-fw-install: używany sterownik|polish
big5|0|image|2 kolejne pliki CnxEtU.sys w „big5” są większe niż jakikolwiek sterownik: pominięto je|polish
big8|0|image|5 kolejnych plików CnxEtU.sys w „big8” jest większych niż jakikolwiek sterownik: pominięto je|polish
nofw4|1|none|=tovrin-fw-install: no firmware in \`1/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: no firmware in \`2/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: no firmware in \`3/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: no firmware in \`4/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: none of the 4 drivers in \`nofw4' holds the firmware
nofw5|1|none|=tovrin-fw-install: no firmware in \`1/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: no firmware in \`2/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: no firmware in \`3/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: 2 more drivers hold no firmware\ntovrin-fw-install: none of the 5 drivers in \`nofw5' holds the firmware
nofw8|1|none|tovrin-fw-install: 5 more drivers hold no firmware\ntovrin-fw-install: none of the 8 drivers
nofw5|1|none|2 weitere Treiber enthalten keine Firmware\ntovrin-fw-install: keiner der 5 Treiber in „nofw5“ enthält die Firmware|german
nofw8|1|none|5 weitere Treiber enthalten keine Firmware|german
nofw5|1|none|2 kolejne sterowniki nie zawierają firmware\ntovrin-fw-install: żaden z 5 sterowników w „nofw5” nie zawiera firmware|polish
nofw8|1|none|5 kolejnych sterowników nie zawiera firmware|polish
overnofw|1|none|none of the 2 drivers in \`overnofw' holds the firmware
images4|1|none|    4/CnxEtU.sys: 4400 bytes, SHA-256
other.zip|0|image|using \`A/CnxEtU.sys' from \`other.zip'|pick A/CnxEtU.sys
other|1|none|no CnxEtU.sys in \`other' (read as a folder)|pick C/CnxEtU.sys
crafted|1|none|=tovrin-fw-install: no firmware in \`x?3 l/hostname?q/CnxEtU.sys': file is not a DOS executable\ntovrin-fw-install: the one driver in \`crafted' holds no firmware
images5|1|none|    and 2 more
images8|1|none|    i 5 kolejnych|polish
same|1|none|=tovrin-fw-install: tovrin-fw was stopped while reading the drivers in the folder \`same' (out of memory): one of them is damaged or malicious; copy the folder again|no_memory
same|1|none|=tovrin-fw-install: tovrin-fw wurde beim Lesen der Treiber im Ordner „same“ gestoppt (out of memory): einer von ihnen ist beschädigt oder bösartig; kopieren Sie den Ordner erneut|german no_memory
CASES/toomany.zip|1|none|=tovrin-fw-install: libarchive wurde beim Lesen des Pakets „$BATS_FILE_TMPDIR/cases/toomany.zip“ gestoppt (more CnxEtU.sys than any package holds): es ist beschädigt oder bösartig; laden oder kopieren Sie es erneut|german
CASES/over.sys|1|none|=tovrin-fw-install: keine Firmware in „$BATS_FILE_TMPDIR/cases/over.sys“: mit 16777217 Bytes ist die Datei größer als jeder Treiber (höchstens 16 MiB)\ntovrin-fw-install: die Datei „$BATS_FILE_TMPDIR/cases/over.sys“ ist weder ein Paket, das libarchive lesen kann, noch ein Treiber|german
CASES/over.sys|1|none|nessun firmware in «$BATS_FILE_TMPDIR/cases/over.sys»: con 16777217 byte, il file è più grande di qualsiasi driver (16 MiB al massimo)|italian
EOF
}

# shared NAME GIVES LINES: the case NAME of cases.txt, run from its folder,
# installs GIVES ("nothing": nothing at all) and says LINES and no other,
# less its own words on the installed image.
shared() {
	local name=$1 gives=$2 want=$3 got status=0
	rm -rf fw
	got=$(cd "$BATS_FILE_TMPDIR/cases" &&
		"$INSTALLER" --firmware-dir "$BATS_TEST_TMPDIR/fw" -- "$name" 2>&1) || status=$?
	got=$(sed -e 's/^tovrin-fw-install: //' -e '/^installed `/d' -e '/^next: /d' <<<"$got")
	[ "$got" = "$want" ] || { echo "$name: says"; diff <(echo "$want") <(echo "$got"); return 1; }
	if [ "$gives" = nothing ]; then
		[ "$status" -eq 1 ] && [ ! -e fw ] || { echo "$name: status $status, or made fw/"; return 1; }
	else
		[ "$status" -eq 0 ] && cmp fw/tovrin-fw.bin "$BATS_FILE_TMPDIR/cases/$gives" ||
			{ echo "$name: status $status, or another image"; return 1; }
	fi
}

@test "the cases the page shares" {
	local name='' gives='' lines=''
	while IFS='|' read -r case who what; do
		if [ "$case" != "$name" ]; then
			[ -z "$name" ] || shared "$name" "$gives" "${lines%$'\n'}" || return 1
			name=$case gives='' lines=''
		fi
		case $who in
		gives | "installer gives") gives=$what ;;
		says | "installer says") lines+=$what$'\n' ;;
		esac
	done < <(grep -v -e '^#' -e '^$' "$BATS_TEST_DIRNAME/cases.txt"; echo '|')
}

@test "a hostile reader, sealed: what it tries fails, what it lies is refused, and root ends in its own words" {
	# A file only its owner may read, under /home as a user's would be.
	mkdir -p home && echo secret >home/secret && chmod 0600 home/secret
	export HOSTILE_FILE=$PWD/home/secret
	zip=$EXAMPLES/vendor/driver.zip
	damaged="tovrin-fw-install: \`$zip' is damaged or cut short"
	stopped="tovrin-fw-install: libarchive was stopped while reading the package \`$zip'"
	# Under AddressSanitizer, whose shadow is far larger, the reader has
	# no bound on memory.
	asan=$(ldd "$HOSTILE" | grep -c libasan || true)
	while IFS='|' read -r attack says; do
		[ "$attack/$asan" != hungry/1 ] || continue
		SECONDS=0
		install 1 none "$says" "hostile $attack" --firmware-dir fw "$zip" || return 1
		[ "$SECONDS" -le 5 ] || { echo "$attack: took $SECONDS s"; return 1; }
		! pgrep -f -- "$HOSTILE" >/dev/null ||
			{ echo "$attack: a reader outlived the run"; return 1; }
		[ -z "$(ls -A /tmp/hostile /var/tmp/hostile /dev/shm/hostile 2>/dev/null)" ] ||
			{ echo "$attack: left a file"; return 1; }
	done <<EOF
fork|$damaged (fork: Operation not permitted)
outlive|$damaged (fork: Operation not permitted)
write|$damaged (/tmp/hostile: Operation not permitted; /var/tmp/hostile: Operation not permitted; /dev/shm/hostile: Operation not permitted; hostile: Operation not permitted; )
proc|$damaged (/proc: Operation not permitted)
home|$damaged (/home: Operation not permitted)
unix|$damaged (socket: Operation not permitted; connect: Operation not permitted)
network|$damaged (socket: Operation not permitted; connect: Operation not permitted)
hungry|$stopped (malloc: Cannot allocate memory)
sleep|$stopped (no answer in 3 s)
closehang|$stopped (no answer in 3 s)
sealmsg|$stopped (a record out of bounds)
flood|$stopped (a record out of bounds)
huge|$stopped (a record out of bounds)
notext|$stopped (a path it was not given)
unasked|$stopped (an image for a driver it was not given)
oversize|$stopped (an image larger than its driver)
short|$stopped (an answer cut short)
EOF
	# Under root, where the seal cannot be made (an id that a user
	# namespace does not map), nothing is read.
	[ "$(id -u)" -eq 0 ] && unshare --user --map-root-user true 2>/dev/null || return 0
	advice="run tovrin-fw-install --firmware-dir ~/fw SOURCE as a user, then install -D -m 0644 ~/fw/tovrin-fw.bin fw/tovrin-fw.bin as root"
	install 1 none "=tovrin-fw-install: cannot read \`$zip': its reader could not give up root's rights (setgroups: Operation not permitted), and nothing is read with them; $advice" \
		"unshare --user --map-root-user" --firmware-dir fw "$zip"
}

@test "each state of the firmware folder, and each way to name it" {
	echo old >old
	while IFS='|' read -r state options want_status want says; do
		rm -rf fw a && mkdir fw
		case $state in
		missing) rm -r fw ;;
		same) cp image fw/tovrin-fw.bin && chmod 644 fw/tovrin-fw.bin &&
			inode=$(stat -c %i fw/tovrin-fw.bin) ;;
		other) cp old fw/tovrin-fw.bin && chmod 644 fw/tovrin-fw.bin ;;
		dangling) ln -s nowhere fw/tovrin-fw.bin ;;
		esac
		# shellcheck disable=SC2086 # the options are words
		install "$want_status" "$want" "$says" plain $options \
			"$EXAMPLES/vendor/driver.zip" || return 1
		[ "$state" != same ] || [ "$(stat -c %i fw/tovrin-fw.bin)" = "$inode" ]
	done <<EOF
missing|--firmware-dir fw|0|image|installed \`fw/tovrin-fw.bin'
missing|--firmware-dir=fw|0|image|installed \`fw/tovrin-fw.bin'
missing|--firmware-dir fw --|0|image|installed \`fw/tovrin-fw.bin'
same|--firmware-dir fw|0|image|already holds this image: left as it is
other|--firmware-dir fw|1|old|holds another image: left as it is (--force replaces it)
other|--force --firmware-dir fw|0|image|installed \`fw/tovrin-fw.bin'
dangling|--firmware-dir fw|1|link|holds another image: left as it is (--force replaces it)
dangling|--firmware-dir=fw --force|0|image|installed \`fw/tovrin-fw.bin'
EOF
	# Folders made for DIR go again when the run fails after them, up to
	# the first one made: the user's own empty folder above stays, and
	# so do those made when DIR itself could not be.
	rm -rf fw
	install 1 none "cannot rename" "fault rename:EIO" --firmware-dir a/b/c "$EXAMPLES/vendor/driver.zip"
	mkdir own
	install 1 none "cannot rename" "fault rename:EIO" --firmware-dir own/b/c "$EXAMPLES/vendor/driver.zip"
	[ -d own ] && [ -z "$(ls -A own)" ] || { echo "own/ is gone or not empty"; return 1; }
	long=$(printf '%0300d' 0)
	install 1 none "cannot create \`a/$long': File name too long" plain --firmware-dir "a/$long" "$EXAMPLES/vendor/driver.zip"
	# Folders the kernel's loader reads: /lib/firmware as a merged /usr
	# names it, and the one its path parameter names.
	[ "$(id -u)" -eq 0 ] && [ "$(readlink /lib)" = usr/lib ] &&
		[ -f /sys/module/firmware_class/parameters/path ] &&
		unshare --mount true 2>/dev/null || return 0
	for dir in /usr/lib/firmware custom; do
		rm -rf loaded custom && mkdir loaded
		install 0 none "next: plug the modem in (again)" loader \
			--firmware-dir "$dir" "$EXAMPLES/vendor/driver.zip" || return 1
		cmp "${dir/#\/usr\/lib\/firmware/loaded}/tovrin-fw.bin" image
	done
}

@test "Ctrl-C or SIGTERM while the reader runs: nothing left, and ended by that signal" {
	# Each run a process group of its own, signalled whole as a terminal
	# does it, while the reader spins.
	set -m
	for sig in INT:130 TERM:143 HUP:129; do
		TOVRIN_FW_HOSTILE=sleep "$HOSTILE" --firmware-dir fw "$EXAMPLES/vendor/driver.zip" >out 2>&1 &
		sleep 0.5
		kill -"${sig%:*}" -- -$!
		status=0 && wait $! || status=$?
		output=$(cat out)
		[ "$status" -eq "${sig#*:}" ] || { echo "$sig: status $status: $output"; return 1; }
		[[ "$output" != *tovrin-fw-install:* ]] || { echo "$sig: said more: $output"; return 1; }
		[ ! -e fw ] || { echo "$sig: left files"; return 1; }
	done
	set +m
	# SIGTERM to the whole run at any moment, as timeout sends it: the
	# image installed whole, or nothing left at all.
	for ms in $(seq 0 1 30); do
		rm -rf fw
		timeout -s TERM "0.$(printf '%03d' "$ms")" \
			"$INSTALLER" --firmware-dir fw "$EXAMPLES/vendor/driver.zip" >/dev/null 2>&1 || true
		[ ! -e fw ] || [ -z "$(ls -A fw)" ] || [ "$(ls -A fw)" = tovrin-fw.bin ] ||
			{ echo "${ms} ms: fw/ holds $(ls -A fw)"; return 1; }
	done
}

@test "usage errors, and the version of tovrin-fw" {
	for args in "" "a b" "--bogus a" "--firmware-dir" "--driver"; do
		run "$INSTALLER" $args
		[ "$status" -eq 64 ] || { echo "$args: status $status"; return 1; }
	done
	run "$INSTALLER" --firmware-dir '' "$EXAMPLES/vendor/driver.zip"
	[ "$status" -eq 64 ]
	[ "$("$INSTALLER" --version)" = "$("$TOVRIN_FW" --version)" ]
	[[ "$(german "$INSTALLER" --help)" == "Aufruf: tovrin-fw-install [--firmware-dir ORDNER]"* ]]
}
