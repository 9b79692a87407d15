#!/bin/sh
# tovrin-fw-install: from the vendor's driver package to the installed
# firmware in one step, offline.  Takes every CnxEtU.sys out of SOURCE,
# runs tovrin-fw on each, and installs the one image they hold as
# DIR/tovrin-fw.bin, atomically.
set -eu

me=tovrin-fw-install
version=@TOVRIN_FW_VERSION@
page=tovrin-fw-$version.html
dir=/lib/firmware
force=

# parent PATH: what dirname says of PATH, without a program run for it.
parent() {
	set -- "${1%"${1##*[!/]}"}"
	case $1 in
	'') echo / ;;
	*/*)
		set -- "${1%/*}"
		set -- "${1%"${1##*[!/]}"}"
		echo "${1:-/}"
		;;
	*) echo . ;;
	esac
}
here=$(parent "$0")

# Words in the user's language where gettext is installed and has our
# catalog (installed beside us, or in a build folder); in English where
# it is not, as on a minimal system, and the run is the same.  Under the
# C locale gettext keeps to English whatever LANGUAGE asks, so it is not
# run for that.
export TEXTDOMAIN=tovrin-fw
case ${LC_ALL:-${LC_MESSAGES:-${LANG:-C}}} in
C | C.* | POSIX | POSIX.*) english=1 ;;
*) english= ;;
esac
if [ -z "$english" ] && command -v gettext >/dev/null 2>&1; then
	for TEXTDOMAINDIR in "$here/../share/locale" "$here/locale"; do
		[ ! -d "$TEXTDOMAINDIR" ] || break
	done
	export TEXTDOMAINDIR
	_() { gettext "$1"; }
	__() { ngettext "$1" "$2" "$3"; }
else
	_() { printf '%s' "$1"; }
	__() { if [ "$3" -eq 1 ]; then printf '%s' "$1"; else printf '%s' "$2"; fi; }
fi
# __ SINGULAR PLURAL COUNT: the form of a message for COUNT, by the
# language's rule (English's two forms without gettext).
# say FORMAT ARG...: a line of ours, FORMAT in the user's language; only
# the format is translated, never what fills it.
say() {
	f=$(_ "$1")
	shift
	# shellcheck disable=SC2059 # the format is ours, translated
	printf "%s: $f\n" "$me" "$@"
}
die() {
	say "$@" >&2
	exit 1
}
# sayn SINGULAR PLURAL COUNT ARG..., dien ...: say and die, in the form
# for COUNT.
sayn() {
	f=$(__ "$1" "$2" "$3")
	shift 3
	# shellcheck disable=SC2059 # the format is ours, translated
	printf "%s: $f\n" "$me" "$@"
}
dien() {
	sayn "$@" >&2
	exit 1
}
usage() {
	# shellcheck disable=SC2059 # the format is ours, translated
	{
		# TRANSLATORS: %s is the program's name, tovrin-fw-install.
		printf "$(_ 'Usage: %s [--firmware-dir DIR] [--force] SOURCE')\n" "$me"
		printf "$(_ "Try \`%s --help' for more information.")\n" "$me"
	} >&2
	exit 64
}
# The help, a paragraph at a time, each its own message.
help() {
	# shellcheck disable=SC2059 # the formats are ours, translated
	{
		printf "$(_ 'Usage: %s [--firmware-dir DIR] [--force] SOURCE')\n" "$me"
		printf "$(_ "Install the firmware of Conexant AccessRunner ADSL USB modems from the
modem's Windows driver package, for the kernel's firmware loader.")\n\n"
		printf "$(_ "SOURCE - the vendor's package (zip, cabinet, self-extracting .exe, 7-Zip,
ISO image), the CD drive, a folder (a mounted CD, an unpacked package), or
the driver CnxEtU.sys itself")\n\n"
		printf "$(_ "The image goes to DIR/tovrin-fw.bin, mode 0644, where the kernel's firmware
loader finds it (DIR is /lib/firmware unless --firmware-dir says otherwise).
Packages are read with bsdtar (libarchive-tools); a folder or the driver
itself needs nothing more.  Without network, carry the .deb files of
libarchive-tools libarchive13 libxml2 libicu72 (Debian 12) or
libarchive-tools libarchive13t64 libxml2 (Debian 13), fetched with
apt-get update && apt-get download on the same Debian release and
architecture, and dpkg -i them; or use the offline page %s
on any computer.")\n\n" "$page"
		printf "$(_ 'Options:
  --firmware-dir DIR   install into DIR (default /lib/firmware)
  --force              replace a DIR/tovrin-fw.bin that holds another image
  --help               give this help list
  --version            print program version')\n\n"
		# TRANSLATORS: %s is the address to write to, in angle
		# brackets.
		printf "$(_ 'Report bugs to %s.')\n" '<tovrin-fw-general at lists dot example dot org>'
	}
}

while [ $# -gt 0 ]; do
	case $1 in
	--help)
		help
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
		say "unrecognized option '%s'" "$1" >&2
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

[ -e "$src" ] || die "cannot read \`%s': No such file or directory" "$src"
[ -r "$src" ] || die "cannot read \`%s': Permission denied" "$src"

# tovrin-fw: the one the caller names, the one installed beside us, or
# the one on PATH.
if [ -n "${TOVRIN_FW-}" ]; then
	fw=$TOVRIN_FW
elif [ -x "$here/tovrin-fw" ]; then
	fw=$here/tovrin-fw
else
	fw=$(command -v tovrin-fw) ||
		# TRANSLATORS: %s is tovrin-fw-install.
		die "tovrin-fw not found: install it beside %s or on PATH" "$me"
fi
case $fw in /*) ;; *) fw=$PWD/$fw ;; esac

# Everything that looks inside SOURCE, bsdtar and tovrin-fw, runs as a
# reader, within limits that stop it instead of the machine; under root,
# as nobody, without capabilities, without a way back to more rights and,
# where the kernel gives it one, in a network of its own that has none.
# Root opens SOURCE, and each driver in a folder, and hands the open file
# to the reader; what comes back comes on a pipe, or into a file that root
# opened in its own folder.  Root never opens a path that a reader made.
# The limits are far above what a real package needs; tighter ones that
# the caller set stand.
nl='
'
cpu=60
as=$((1024 * 1024 * 1024))
files=64
procs=64
# The caller's soft limits, and who we are, from the kernel's own lines.
have_cpu=unlimited have_as=unlimited have_fsize=unlimited
have_files=unlimited have_procs=unlimited
# shellcheck disable=SC2034 # the fields passed over
while read -r field what what2 soft rest; do
	case $what in
	cpu) have_cpu=$soft ;;
	address) have_as=$soft ;;
	file) [ "$what2" != size ] || have_fsize=$soft ;;
	open) have_files=$soft ;;
	processes) have_procs=$what2 ;;
	esac
done 2>/dev/null </proc/self/limits || :
uid=
# shellcheck disable=SC2034 # the fields passed over
while read -r what ruid euid rest; do
	[ "$what" != Uid: ] || uid=$euid
done 2>/dev/null </proc/self/status || :
[ -n "$uid" ] || uid=$(id -u)
# least VAR HAVE: VAR becomes the tighter of it and HAVE.
least() {
	eval "set -- \"\$$1\" \"\$2\" \"\$1\""
	if [ "$2" != unlimited ] && { [ "$1" = unlimited ] || [ "$2" -lt "$1" ]; }; then
		eval "$3=\$2"
	fi
}
least cpu "$have_cpu"
least as "$have_as"
least files "$have_files"
least procs "$have_procs"
# A second more, after SIGXCPU, before SIGKILL: the first names the cause.
cpus=$cpu
[ "$cpu" = unlimited ] || cpus=$cpu:$((cpu + 1))
# A tovrin-fw that the caller names may be a build under qemu or a
# sanitizer, which reserve far more address space than they use.
fw_as=$as
[ -z "${TOVRIN_FW-}" ] || fw_as=$have_as
drop=
net=
if [ "$uid" -eq 0 ]; then
	drop='setpriv --reuid=nobody --regid=nogroup --clear-groups'
	drop="$drop --inh-caps=-all --ambient-caps=-all --bounding-set=-all --no-new-privs --"
	# shellcheck disable=SC2086 # $drop is a command
	if ! command -v setpriv >/dev/null; then
		# TRANSLATORS: a reason, in the message that the package
		# cannot be read without root's rights (the second %s there).
		why=$(_ 'setpriv not found')
	elif unshare --net -- $drop true 2>/dev/null; then
		why='' net='unshare --net --'
	else
		why=$($drop true 2>&1) && why= || why=${why:-setpriv}
	fi
	[ -z "$why" ] ||
		# TRANSLATORS: SOURCE as given; why the rights could not be
		# dropped (setpriv's words, in English, or the reason above);
		# a command to run as a user; a command to run as root.
		die "cannot read \`%s' without root's rights (%s): as a user, run %s, then as root %s" \
			"$src" "${why%%"$nl"*}" "$me --firmware-dir ~/fw SOURCE" \
			"install -D -m 0644 ~/fw/tovrin-fw.bin $dir/tovrin-fw.bin"
fi
# Under root, a reader starts with none of the caller's environment: the
# names exported, to be unset.
exported=''
if [ -n "$drop" ]; then
	while read -r word name; do
		case $word in
		export) ;;
		declare) name=${name#-x } ;;
		*) continue ;;
		esac
		exported="$exported ${name%%=*}"
	done <<EOF
$(export -p)
EOF
fi
# reader FSIZE AS COMMAND...: COMMAND as a reader, its files at most FSIZE
# bytes and its address space AS; in the C.UTF-8 locale where $lang says
# so.
lang=''
reader() {
	rsize=$1 ras=$2
	shift 2
	IFS=' '
	least rsize "$have_fsize"
	(
		# shellcheck disable=SC2086 # a list of names
		[ -z "$drop" ] || { unset $exported 2>/dev/null || :; }
		[ -z "$drop" ] || export PATH=/usr/bin:/bin
		[ -z "$lang" ] || export LC_ALL=C.UTF-8 LANGUAGE=
		# shellcheck disable=SC2086 # $net and $drop are commands
		exec prlimit --cpu="$cpus" --as="$ras" --fsize="$rsize" \
			--nofile="$files" ${drop:+--nproc="$procs"} -- $net $drop "$@"
	)
}
# sorted FIELD LINES: LINES sorted from FIELD on, as sort -k sorts them.
sorted() {
	case $2 in
	*"$nl"*) printf '%s\n' "$2" | sort -k "$1" ;;
	*) printf '%s\n' "$2" ;;
	esac
}
# stopped NAME STATUS [HOW]: a reader, NAME, that a limit stopped or that
# died (any status but 0 and 1, which both programs give) ends the run.
stopped() {
	[ "$2" -gt 1 ] || return 0
	if [ $# -gt 2 ]; then
		how=$3
	elif [ "$2" -gt 128 ]; then
		how=SIG$(kill -l "$2")
	else
		# shellcheck disable=SC2059 # the format is ours, translated
		# TRANSLATORS: how a reader ended, in "%s was stopped while
		# reading ..."; %s is its exit status, a number.
		how=$(printf "$(_ 'status %s')" "$2")
	fi
	# TRANSLATORS: the program that was stopped (bsdtar or tovrin-fw);
	# SOURCE as given; the limit that stopped it (SIGXCPU, SIGXFSZ, ...),
	# the status above, or bsdtar's words.  The file is SOURCE: a package,
	# a driver or a folder.
	die "%s was stopped while reading \`%s' (%s): it is damaged or made to harm; fetch or copy it again" \
		"$1" "$src" "$how"
}

# Everything of ours lives in $tmp, and in $part once it exists; on any
# way out both go, and so does each folder we made for DIR, from DIR up to
# $made, the first of them, while it is empty.  The traps come first, and
# each name is known before its file is made: a signal at any moment
# leaves nothing behind.
tmpdir=${TMPDIR:-/tmp}
tmp=
part=
made=
cleanup() {
	[ -z "$tmp" ] || rm -rf "$tmp"
	[ -z "$part" ] || rm -f "$part"
	d=$dir
	while [ -n "$made" ]; do
		# One that mkdir -p did not get to is no reason to stop.
		rmdir "$d" 2>/dev/null || [ ! -e "$d" ] || break
		[ "$d" != "$made" ] || break
		d=$(parent "$d")
	done
}
trap cleanup EXIT
for sig in HUP INT TERM; do
	# shellcheck disable=SC2064 # each trap names its own signal
	trap "cleanup; trap - $sig EXIT; kill -$sig \$\$" "$sig"
done
# A name of our pid first: mkdir takes no folder or link that is there,
# and only then is mktemp run for one.  Its own words would only repeat
# ours.
tmp=$tmpdir/tovrin-fw-install.$$
if ! mkdir -m 0700 "$tmp" 2>/dev/null &&
	{ ! tmp=$(mktemp -d -u 2>/dev/null) || ! mkdir -m 0700 "$tmp" 2>/dev/null; }; then
	tmp=
	die "cannot make a folder in \`%s' (TMPDIR)" "$tmpdir"
fi
full() {
	# TRANSLATORS: the temporary folder; SOURCE as given; the system's
	# reason, in English.
	die "no room in \`%s' (TMPDIR) to unpack \`%s': %s" "$tmpdir" "$src" "$1"
}

# Real drivers are well under 1 MiB, and real packages hold a handful:
# a larger CnxEtU.sys, or drivers that come to more than $total, are
# damaged or hostile, and are refused before anything is unpacked, so
# that they cannot fill TMPDIR.
max=$((16 * 1024 * 1024))
total=$((64 * 1024 * 1024))
# Of many lines alike, the first few are said, then how many more; where
# that would stand for one line, that line is said instead.
few=3
# told COUNT: how many of COUNT lines alike are said.
told() {
	if [ "$1" -le $((few + 1)) ]; then echo "$1"; else echo "$few"; fi
}
# Up to $few of bsdtar's reasons, from $err, on one line.  Kept in
# memory: a full TMPDIR could not hold them.
why() {
	# bsdtar names itself by the descriptor it runs through, 3.
	reason=$(printf '%s\n' "$err" | sed -e 's/^3: //' -e '/^$/d' \
		-e '/^Error exit delayed/d' -e '/^(null)$/d')
	if [ -z "$reason" ]; then
		# TRANSLATORS: the reason in "`%s' is damaged or cut short
		# (%s): ...", where bsdtar gave none; "it" is the package.
		_ 'bsdtar could not read it through'
		echo
		return
	fi
	lines=$(printf '%s\n' "$reason" | wc -l)
	shown=$(told "$lines")
	joined=$(printf '%s\n' "$reason" | head -n "$shown" | paste -sd ';' - | sed 's/;/; /g')
	if [ "$lines" -eq "$shown" ]; then
		printf '%s\n' "$joined"
		return
	fi
	# TRANSLATORS: after the first three of bsdtar's reasons, how many
	# more there are; %s is a number of at least 2.
	# shellcheck disable=SC2059 # the format is ours, translated
	printf "%s; $(__ '%s more' '%s more' $((lines - shown)))\n" "$joined" $((lines - shown))
}
# Out of memory, bsdtar says so and fails: that too is a reader stopped.
out_of_memory() {
	case $err in
	*'memory exhausted'* | *[Aa]llocate*memory* | *'ut of memory'*) stopped bsdtar 2 "$(why)" ;;
	esac
}
# bsdtar reads SOURCE on its standard input, which root opened: so it
# may be a file that only root can read, and bsdtar makes no file at all.
# Like tovrin-fw, it runs through a descriptor that root opened.
# tar FSIZE ARG...
tar() {
	rsize=$1 lang=C.UTF-8
	shift
	reader "$rsize" "$as" /proc/self/fd/3 "$@" 3<"$bsdtar" <"$src"
}
# The reader's side of tovrin-fw, one reader for all the drivers.  They
# come on standard input, one after another, each named by an argument,
# START:SIZE, where it starts there and its size.  For each in turn, its
# image goes to standard output, and to standard error a line "@ STATUS
# SIZE SAID": tovrin-fw's status, the image's size (0 for the one driver,
# whose image is all the output) and the first line it said.  They pass through a folder of the reader's own, which it removes
# itself.  $0 is tovrin-fw, through the descriptor 3 that root opened,
# since the reader need not reach it by its path.
# shellcheck disable=SC2016 # expanded by the reader
locate='PATH=/usr/bin:/bin
d=$(mktemp -d 2>/dev/null) || d=$(TMPDIR=/tmp mktemp -d) || exit 1
trap '\''rm -rf "$d"'\'' EXIT
trap "exit 1" HUP INT TERM
all=$d/CnxEtU.sys
[ $# -eq 1 ] || all=$d/all
cat >"$all" || exit 1
for slice; do
	[ $# -eq 1 ] || dd if="$all" of="$d/CnxEtU.sys" bs=64k status=none \
		iflag=skip_bytes,count_bytes skip="${slice%:*}" count="${slice#*:}" || exit 1
	status=0 size=0 said=
	"$0" "$d/CnxEtU.sys" "$d/fw" >"$d/said" 2>&1 || status=$?
	read -r said <"$d/said" || :
	if [ "$status" -ne 0 ]; then
		:
	elif [ $# -eq 1 ]; then
		cat "$d/fw" || exit 1
	else
		size=$(wc -c <"$d/fw") && cat "$d/fw" && rm "$d/fw" || exit 1
	fi
	printf "@ %s %s %s\n" "$status" "$size" "$said" >&2
	[ "$status" -le 1 ] || exit "$status"
done'

# $found: the drivers, a line each of size and path, as SOURCE names them.
if [ -d "$src" ]; then
	kind=folder
	# Names and sizes alone: each driver is opened only to be handed over.
	base=$(cd "$src" && pwd)
	found=$(cd "$base" && find . -type f -iname cnxetu.sys -printf '%s %P\n' |
		sort -k 2)
	links=$(cd "$base" && find . -type l -iname cnxetu.sys -printf '%P\n' | sort)
elif ! bsdtar=$(command -v bsdtar); then
	# Without bsdtar the file can still be the driver itself.
	kind=driver
elif err=$(tar $((max + 1)) -tvf - 2>&1 >"$tmp/list"); then
	kind=package
	# Size and name of each regular file called CnxEtU.sys, in any
	# folder and letter case, from bsdtar's ls -l style listing, in the
	# package's order, which is the order bsdtar unpacks them in.
	# And each link so named, marked.  One line needs no sort.
	file='s|^-[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}\([0-9]\{1,\}\) \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \(\(.*/\)\{0,1\}[Cc][Nn][Xx][Ee][Tt][Uu]\.[Ss][Yy][Ss]\)$|\1 \2|p'
	link='s|^l[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[0-9]\{1,\} \{1,\}[^ ]* \{1,\}[^ ]* \{1,\}[^ ]* \(\(.*/\)\{0,1\}[Cc][Nn][Xx][Ee][Tt][Uu]\.[Ss][Yy][Ss]\) -> .*$|l \1|p'
	listed='' links=''
	while IFS= read -r line; do
		case $line in
		'') ;;
		'l '*) links=$links${line#l }$nl ;;
		*) listed=$listed$line$nl ;;
		esac
	done <<EOF
$(sed -n -e "$file" -e "$link" "$tmp/list")
EOF
	listed=${listed%"$nl"} links=${links%"$nl"}
	found=$(sorted 2 "$listed")
	[ -z "$links" ] || links=$(sorted 1 "$links")
else
	status=$?
	stopped bsdtar "$status"
	out_of_memory
	case $err in
	*'Unrecognized archive format'*) kind=driver ;;
	*'No space left on device'*) full "$(why)" ;;
	# TRANSLATORS: SOURCE as given, a package file (say "the file `%s'"
	# where a pronoun must agree with it); bsdtar's reasons, in English,
	# separated by semicolons.
	*) die "\`%s' is damaged or cut short (%s): fetch or copy it again" "$src" "$(why)" ;;
	esac
fi
if [ "$kind" = driver ]; then
	found="$(stat -L -c %s -- "$src") $src"
fi
# A link is no driver: it is never followed.
[ -z "${links-}" ] || printf '%s\n' "$links" | head -n "$few" | while IFS= read -r path; do
	say "\`%s' in \`%s' is a symbolic link, no driver: left out" "${path#./}" "$src" >&2
done
if [ -z "$found" ]; then
	case $kind in
	folder) die "no CnxEtU.sys in \`%s' (read as a folder)" "$src" ;;
	*) die "no CnxEtU.sys in \`%s' (read as a package)" "$src" ;;
	esac
fi

# Those larger than any driver are left out, the first few said; the rest
# may not come to more than any package holds.  The driver itself, too
# large, is no driver.
n=0
sum=0
out=0
set -f
IFS=$nl
set --
for line in $found; do
	size=${line%% *} path=${line#* }
	if [ "$size" -le "$max" ]; then
		n=$((n + 1)) sum=$((sum + size))
		continue
	fi
	out=$((out + 1))
	set -- "$@" --exclude "$path"
	[ "$kind" != driver ] || break
done
# The first few said; the driver itself is said later.
left=$(told "$out")
[ "$kind" != driver ] || left=0
for line in $found; do
	size=${line%% *} path=${line#* }
	[ "$left" -gt 0 ] || break
	[ "$size" -gt "$max" ] || continue
	left=$((left - 1))
	# TRANSLATORS: a driver's path in the package; SOURCE as given; the
	# driver's size; the largest size a driver may have.
	sayn "\`%s' in \`%s' is %s byte, more than any driver (%s): left out" \
		"\`%s' in \`%s' is %s bytes, more than any driver (%s): left out" \
		"$size" "${path#./}" "$src" "$size" "$max" >&2
done
IFS=' '
[ "$out" -eq "$(told "$out")" ] ||
	sayn "%s more CnxEtU.sys in \`%s' is larger than any driver: left out" \
		"%s more CnxEtU.sys in \`%s' are larger than any driver: left out" \
		"$((out - few))" "$((out - few))" "$src" >&2
[ "$n" -gt 0 ] || [ "$kind" = driver ] ||
	die "no CnxEtU.sys in \`%s' is small enough to be a driver" "$src"
[ "$sum" -le "$total" ] ||
	dien "the %s driver in \`%s' comes to %s bytes, more than any package's drivers (%s): refused" \
		"the %s drivers in \`%s' come to %s bytes, more than any package's drivers (%s): refused" \
		"$n" "$n" "$src" "$sum" "$total"
overrun() {
	die "\`%s' is damaged: a CnxEtU.sys in it unpacks to more than the package says it holds; fetch or copy it again" "$src"
}
# The drivers one after another, in $tmp/all, and $at: a line each of
# where each starts there, its size and its path, in the package's order.
# bsdtar may write no more than the listing stated.
if [ "$kind" = package ]; then
	err=$(tar $((sum + 1)) -xOf - "$@" '*[Cc][Nn][Xx][Ee][Tt][Uu].[Ss][Yy][Ss]' \
		2>&1 >"$tmp/all") || {
		status=$?
		# SIGXFSZ: it wrote more than the listing stated.
		[ "$status" -ne 153 ] || overrun
		stopped bsdtar "$status"
		out_of_memory
		case $err in *'No space left on device'*) full "$(why)" ;; esac
		die "\`%s' is damaged or cut short (%s): fetch or copy it again" "$src" "$(why)"
	}
	got=$(wc -c <"$tmp/all")
	[ "$got" -le "$sum" ] || overrun
	[ "$got" -eq "$sum" ] ||
		die "\`%s' is damaged or cut short (%s): fetch or copy it again" "$src" "$(err= && why)"
	at=0
	found=
	IFS=$nl
	for line in $listed; do
		size=${line%% *}
		[ "$size" -le "$max" ] || continue
		found="$found$at $line$nl"
		at=$((at + size))
	done
	IFS=' '
	found=$(sorted 3 "${found%"$nl"}")
fi

# A folder's drivers one after another in $tmp/all too, as root reads
# them; one driver, of a folder or itself, is handed over as it is.
set -f
IFS=$nl
in=$tmp/all
if [ "$kind" = folder ]; then
	set --
	for line in $found; do
		[ "${line%% *}" -le "$max" ] && set -- "$@" "$base/${line#* }"
	done
	if [ $# -eq 1 ]; then
		in=$1
	else
		err=$(cat -- "$@" 2>&1 >"$in") || {
			case $err in *'No space left on device'*) full "${err##*: }" ;; esac
			err=${err%%"$nl"*}
			# TRANSLATORS: SOURCE as given, a folder; the reason:
			# cat's words in English, or the message below.
			die "cannot read \`%s': %s" "$src" "${err#cat: }"
		}
		[ "$(wc -c <"$in")" -eq "$sum" ] ||
			# TRANSLATORS: the reason in "cannot read `%s': %s",
			# of a folder whose drivers changed while they were
			# read.
			die "cannot read \`%s': %s" "$src" "$(_ 'it changed while it was read')"
	fi
elif [ "$kind" = driver ]; then
	in=$src
fi
# "$@": where each driver starts in $in and its size, in the order of
# $found.
set --
at=0
for line in $found; do
	[ "$kind" != package ] || { start=${line%% *} line=${line#* }; }
	size=${line%% *}
	[ "$size" -le "$max" ] || continue
	[ "$kind" = package ] || start=$at
	set -- "$@" "$start:$size"
	at=$((at + size))
done
IFS=' '

# Each driver's image, from the one reader: its files no larger than all
# the drivers and a page for tovrin-fw's words.  A limit that stopped it,
# or its end by a signal, ends the run.
status=0
said=
[ $# -eq 0 ] ||
	said=$(reader $((sum + 4096)) "$fw_as" /bin/sh -c "$locate" /proc/self/fd/3 "$@" \
		3<"$fw" <"$in" 2>&1 >"$tmp/img") || status=$?
stopped tovrin-fw "$status"
# Its lines for each driver in turn, and the first of its other words,
# which say why it ended early.
reports=''
other=''
IFS=$nl
for line in $said; do
	case $line in
	'@ '*) reports=$reports${line#@ }$nl ;;
	*) [ -n "$other" ] || other=$line ;;
	esac
done

# Those without an image are passed over, the first few said with
# tovrin-fw's reason.  $images: a line each of number, path, and where
# the image starts in $tmp/img and its size; $offset: where the first
# image starts in its driver.
tab=$(printf '\t')
i=0
images=
offset=
none=0
start=0
for line in $found; do
	[ "$kind" != package ] || line=${line#* }
	size=${line%% *} path=${line#* }
	[ "$size" -le "$max" ] || [ "$kind" = driver ] || continue
	[ "$kind" != package ] || path=${path#./}
	i=$((i + 1))
	if [ "$size" -gt "$max" ]; then
		# shellcheck disable=SC2059 # the format is ours, translated
		# TRANSLATORS: the reason in "no firmware in `%s': %s", of
		# SOURCE itself, a file too large to be a driver; its size,
		# and the largest a driver may have.
		said=": $(printf "$(__ 'at %s byte it is larger than any driver (%s bytes at most)' \
			'at %s bytes it is larger than any driver (%s bytes at most)' "$size")" \
			"$size" "$max")"
		status=1 isize=0
	elif [ -n "$reports" ]; then
		said=${reports%%"$nl"*} reports=${reports#*"$nl"}
		status=${said%% *} said=${said#* }
		isize=${said%% *} said=${said#* }
	else
		# The reader ended before this driver, in its own words.
		status=1 isize=0 said=$other
	fi
	case $status$isize in *[!0-9]* | '') stopped tovrin-fw 2 ;; esac
	stopped tovrin-fw "$status"
	# Where the image starts, as tovrin-fw said it: all that root takes
	# from its words, beside the image of at most $max bytes.
	at=${said##*" at offset "}
	case $status$at in
	00x*[!0-9a-f]* | 00x) ;;
	00x*)
		[ "$isize" -le "$max" ] || stopped tovrin-fw 153
		images=$images$i$tab$path$tab$start$tab$isize$nl
		start=$((start + isize))
		[ -n "$offset" ] || offset="found firmware in \`$path' at offset $at"
		continue
		;;
	esac
	case $said in *"No space left on device"*) full "${said##*: }" ;; esac
	none=$((none + 1))
	# The one after the first few waits: said if it is the last.
	if [ "$none" -le "$few" ]; then
		# TRANSLATORS: a driver's path; tovrin-fw's reason, in
		# English, or the message "at %s bytes it is larger ...".
		say "no firmware in \`%s': %s" "$path" "${said#*: }" >&2
	elif [ "$none" -eq $((few + 1)) ]; then
		next=$path next_said=${said#*: }
	fi
done
IFS=' '
if [ "$none" -eq $((few + 1)) ]; then
	say "no firmware in \`%s': %s" "$next" "$next_said" >&2
elif [ "$none" -gt "$few" ]; then
	sayn "%s more driver holds no firmware" "%s more drivers hold no firmware" \
		"$((none - few))" "$((none - few))" >&2
fi
found=$((n - none))
[ "$kind" != driver ] || found=$((1 - none))
if [ "$found" -eq 0 ]; then
	if [ "$kind" = driver ] && ! command -v bsdtar >/dev/null; then
		die "\`%s' is no driver; if it is the vendor's package, bsdtar is needed to read it: install libarchive-tools (without network, see %s --help), or take the firmware out with the offline page %s on any computer" \
			"$src" "$me" "$page"
	elif [ "$kind" = driver ]; then
		die "\`%s' is neither a package that bsdtar can read nor a driver" "$src"
	elif [ $((n + out)) -eq 1 ]; then
		die "the one driver in \`%s' holds no firmware" "$src"
	fi
	dien "the %s driver in \`%s' holds no firmware" \
		"none of the %s drivers in \`%s' holds the firmware" \
		"$((n + out))" "$((n + out))" "$src"
fi

# One image is all of $tmp/img, which may be no larger than a driver: the
# reader's limit bounds it already where the drivers come to less.
# Several are each taken out, and told apart by their SHA-256.
if [ "$found" -eq 1 ]; then
	[ $((sum + 4096)) -le "$max" ] || [ "$(wc -c <"$tmp/img")" -le "$max" ] ||
		stopped tovrin-fw 153
else
	images=$(printf '%s' "$images" | while IFS="$tab" read -r i path start isize; do
		dd if="$tmp/img" of="$tmp/$i.img" bs=64k iflag=skip_bytes,count_bytes \
			skip="$start" count="$isize" status=none 2>"$tmp/err" || exit 1
		printf '%s\t%s\t%s\n' "$i" "$path" "$(sha256sum <"$tmp/$i.img" | cut -d' ' -f1)"
	done)$nl || full "$(sed -n '$s/.*: //p' "$tmp/err")"
fi
if [ "$found" -gt 1 ] && [ "$(printf '%s' "$images" | cut -f3 | sort -u | wc -l)" -gt 1 ]; then
	{
		say "the drivers in \`%s' hold different images:" "$src"
		j=0
		printf '%s' "$images" | while IFS="$tab" read -r i path sum; do
			j=$((j + 1))
			if [ "$j" -le "$(told "$found")" ]; then
				bytes=$(wc -c <"$tmp/$i.img" | tr -d ' ')
				# shellcheck disable=SC2059 # the format is ours, translated
				# TRANSLATORS: under "the drivers in `%s' hold
				# different images:", a driver's path, its
				# image's size and the image's SHA-256.
				printf "    $(__ '%s: %s byte, sha256 %s' '%s: %s bytes, sha256 %s' "$bytes")\n" \
					"$path" "$bytes" "$sum"
			elif [ "$j" -eq $((few + 1)) ]; then
				# shellcheck disable=SC2059 # the format is ours, translated
				# TRANSLATORS: under the first three images'
				# lines, how many more images there are; %s is
				# a number of at least 2.
				printf "    $(__ 'and %s more' 'and %s more' $((found - few)))\n" $((found - few))
			fi
		done
		case $kind in
		folder) say "pick one: give its path in \`%s' as SOURCE" "$src" ;;
		*) say "pick one: take it out (bsdtar -xf SOURCE PATH) and give that driver as SOURCE" ;;
		esac
	} >&2
	exit 1
fi
first=${images%%"$nl"*}
i=${first%%"$tab"*} path=${first#*"$tab"}
if [ "$found" -eq 1 ]; then
	path=${path%"$tab"*"$tab"*} image=$tmp/img
else
	path=${path%"$tab"*} image=$tmp/$i.img
fi
[ "$found" -eq 1 ] || sayn "%s driver in \`%s' holds the same image" \
	"%s drivers in \`%s' hold the same image" "$found" "$found" "$src"
if [ "$kind" = driver ]; then
	say "using \`%s'" "$path"
else
	say "using \`%s' from \`%s'" "$path" "$src"
fi
printf '%s\n' "$offset"

target=$dir/tovrin-fw.bin
if [ -e "$target" ] || [ -L "$target" ]; then
	if cmp -s "$image" "$target"; then
		say "\`%s' already holds this image: left as it is" "$target"
		exit 0
	fi
	[ -n "$force" ] ||
		die "\`%s' holds another image: left as it is (--force replaces it)" "$target"
fi
if [ ! -d "$dir" ]; then
	made=$dir
	while [ ! -e "$(parent "$made")" ]; do
		made=$(parent "$made")
	done
	mkdir -p "$dir" 2>/dev/null ||
		die "cannot create \`%s' (the default needs root)" "$dir"
fi
[ -w "$dir" ] || die "cannot write to \`%s' (the default needs root)" "$dir"

# Written beside the target and renamed over it, so that the kernel's
# loader sees the old image or the new one, never a part.  Its name is
# known before it is made, as $tmp's is.
part=$(mktemp -u "$dir/.tovrin-fw.bin.XXXXXX") || part=
# Made 0644, as it is installed.
if [ -z "$part" ] || ! (umask 022 && set -C && : >"$part") 2>/dev/null; then
	part=
	die "cannot write to \`%s' (the default needs root)" "$dir"
fi
if ! { cp "$image" "$part" && sync "$part"; }; then
	die "cannot write \`%s'" "$part"
fi
mv -f "$part" "$target" || die "cannot rename \`%s' to \`%s'" "$part" "$target"
part=
made=
say "installed \`%s'" "$target"

# Whether the kernel's firmware loader reads DIR: its own folders, and the
# one that its path parameter names.
read_by_loader() {
	here=$(cd "$dir" && pwd -P)
	release='' custom=''
	read -r release </proc/sys/kernel/osrelease || release=$(uname -r)
	{ read -r custom || :; } 2>/dev/null </sys/module/firmware_class/parameters/path || :
	for d in ${custom:+"$custom"} "/lib/firmware/updates/$release" \
		/lib/firmware/updates "/lib/firmware/$release" /lib/firmware; do
		[ "$(cd "$d" 2>/dev/null && pwd -P)" != "$here" ] || return 0
	done
	return 1
}
if read_by_loader; then
	# TRANSLATORS: %s is a command.
	say "next: plug the modem in (again), and see as root: %s" "dmesg | grep -i firmware"
else
	# TRANSLATORS: the firmware folder given; a command to install the
	# image where the loader reads it.
	say "next: the kernel's firmware loader does not read \`%s': on the modem's computer, as root, %s, then plug the modem in (again)" \
		"$dir" "install -D -m 0644 $target /lib/firmware/tovrin-fw.bin"
fi
