#!/bin/sh
# A release as a person gets it: the files in ARTIFACTS alone, each tried
# the way it is used.
#
#   sh tests/release.sh sums            SHA256SUMS lists and checks them all
#   sh tests/release.sh tarball         it builds and passes its suite
#   sh tests/release.sh deb SUITE ARCH  the package, on a fresh Debian
#                                       without network (needs root)
#   sh tests/release.sh page ENGINE     the page's table, in ENGINE
#   sh tests/release.sh source SUITE    the source package, built as
#                                       Debian builds it (needs root)
#
# ARTIFACTS, VERSION, EXAMPLES, README, PAGE_TEST, NODE_MODULES and INPUTS
# come from CTest.
set -eu
name=tovrin-fw-${VERSION:?}
: "${ARTIFACTS:?}" "${EXAMPLES:?}" "${README:?}"

work=$(mktemp -d)
binfmt=/proc/sys/fs/binfmt_misc
emulated=
trap 'rm -rf "$work"; [ -z "$emulated" ] || echo -1 >"$emulated"' EXIT
trap 'exit 1' INT TERM HUP

fail() {
	echo "release: $*" >&2
	exit 1
}

# The one line of README.md's indented commands that starts with $1 and
# holds $2, as it stands there.
readme() {
	lines=$(grep -F -- "    $1" "$README" | grep -F -- "$2" | sed 's/^    //')
	[ "$(printf '%s\n' "$lines" | grep -c .)" -eq 1 ] ||
		fail "README.md shows no one line of '$1' with '$2'"
	printf '%s\n' "$lines"
}

sums() {
	cd "$ARTIFACTS"
	sha256sum -c SHA256SUMS
	ls=$(LC_ALL=C ls)
	[ "$ls" = "SHA256SUMS
$name.html
$name.tar.gz
tovrin-fw_${VERSION}_amd64.deb
tovrin-fw_${VERSION}_i386.deb" ] || fail "the release holds: $ls"
	[ "$(cut -d' ' -f3 SHA256SUMS)" = "$(printf '%s\n' "$ls" | sed 1d)" ] ||
		fail "SHA256SUMS does not list every file"
	# A person who downloads one file checks it as the README says; a
	# damaged download must fail that check.
	check=$(readme sha256sum SHA256SUMS)
	cp "$name.html" SHA256SUMS "$work"
	(cd "$work" && eval "$check")
	printf x >>"$work/$name.html"
	if (cd "$work" && eval "$check") >/dev/null 2>&1; then
		fail "$check passes a damaged page"
	fi
}

tarball() {
	tar -xzf "$ARTIFACTS/$name.tar.gz" -C "$work"
	cd "$work/$name"
	cmake --workflow --preset default >"$work/log" 2>&1 ||
		{ cat "$work/log"; fail "the tarball's suite failed"; }
	if grep -q 'did not run' "$work/log"; then
		cat "$work/log"
		fail "the tarball's suite skipped a test"
	fi
	tail -n 3 "$work/log"
	# Without git, dist says what it needs rather than "unknown target".
	if cmake --build --preset default --target dist >"$work/log" 2>&1 ||
		! grep -q 'needs a git checkout' "$work/log"; then
		cat "$work/log"
		fail "dist in the tarball does not say that it needs git"
	fi
}

# On a fresh, minimal Debian SUITE for ARCH, and without network: the
# package installs, and its tovrin-fw-install installs the image that its
# tovrin-fw takes out of the driver, from a CD copied to a folder (plain
# CD names, upper case) and from the driver under another name, both
# without libarchive.  On amd64, the README's offline way for a package file
# too: its download line for SUITE, run with network, then its dpkg line
# without.
deb() {
	suite=$1 arch=$2
	deb=tovrin-fw_${VERSION}_$arch.deb
	root=$work/root
	arch-test "$arch" >/dev/null 2>&1 || emulate "$arch"
	sh "$(dirname "$0")/fresh-root.sh" "$suite" "$arch" "$root"
	cp "$ARTIFACTS/$deb" "$root/root/"
	mkdir -p "$root/root/cd/DRIVER/WINXP"
	cp "$EXAMPLES/sample-driver.sys" "$root/root/cd/DRIVER/WINXP/CNXETU.SYS"
	cp "$EXAMPLES/sample-driver.c" "$root/root/cd/README.TXT"
	cp "$EXAMPLES/sample-driver.sys" "$root/root/xp-driver.bin"
	carry=
	if [ "$arch" = amd64 ]; then
		case $suite in
		bookworm) key=libicu72 ;;
		*) key=libarchive13t64 ;;
		esac
		mkdir "$root/root/carry"
		cp "$ARTIFACTS/$deb" "$EXAMPLES/vendor/driver.zip" "$root/root/carry/"
		in_root "cd /root/carry && $(readme 'apt-get update' "$key")" >"$work/log" 2>&1 ||
			{ cat "$work/log"; fail "the README's download line failed"; }
		carry=$(readme 'dpkg -i' "$key")
	fi
	cat >"$root/root/try" <<EOF
set -eu
# The loopback device alone: no network.
[ "\$(grep -c : /proc/net/dev)" -eq 1 ]
cd /root
firmware=/lib/firmware/tovrin-fw.bin
installed() {
	cmp \$firmware image.bin
	[ "\$(stat -c %a \$firmware)" = 644 ]
	rm \$firmware
}
dpkg -i $deb
if ls /usr/lib/*/libarchive.so.13; then exit 1; fi
tovrin-fw xp-driver.bin image.bin
tovrin-fw-install cd >said && cat said
# /lib/firmware is the loader's: the last line is the next step there.
tail -n 1 said | grep -q '^tovrin-fw-install: next: plug the modem in'
installed
tovrin-fw-install xp-driver.bin
installed
EOF
	# Under qemu-user the installer cannot seal its reader (qemu's clone
	# takes no namespaces): there the package installs and tovrin-fw runs,
	# and the installer only answers, as it does before it reads.
	[ -z "$emulated" ] || sed -i '/^tovrin-fw-install\|^tail -n 1 said\|^installed$/d
		/^dpkg -i/a tovrin-fw-install --version' "$root/root/try"
	[ -z "$carry" ] || cat >>"$root/root/try" <<EOF
cd carry
$carry
tovrin-fw-install driver.zip
cd ..
installed
EOF
	in_root "sh -x /root/try" -n
}

# The source package from the release's tarball as its orig tarball, in a
# fresh SUITE root that holds only build-essential and the Build-Depends:
# built twice, in two folders, the second without the suite (nocheck),
# to the same bytes; then lintian, pedantic, on all it made (each tag left
# is overridden, with the reason), and autopkgtest on the built package.
source_package() {
	suite=$1
	root=$work/root
	sh "$(dirname "$0")/fresh-root.sh" "$suite" amd64 "$root"
	# Folders of their own in each suite: the installer's suite looks for
	# its hostile reader by path, in every root at once.
	for dir in "$suite-a" "$suite-b"; do
		mkdir -p "$root/root/$dir"
		cp "$ARTIFACTS/$name.tar.gz" "$root/root/$dir/tovrin-fw_$VERSION.orig.tar.gz"
		tar -xzf "$ARTIFACTS/$name.tar.gz" -C "$root/root/$dir"
	done
	cat >"$root/root/build" <<EOF
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends build-essential >/dev/null
apt-get build-dep -y -qq /root/$suite-a/$name >/dev/null
cd /root/$suite-a/$name && dpkg-buildpackage -us -uc >../build.log 2>&1 ||
	{ tail -n 100 ../build.log; exit 1; }
cd /root/$suite-b/$name && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc -b \\
	>../build.log 2>&1 || { tail -n 100 ../build.log; exit 1; }
cd /root
grep 'tests passed\\|tests failed' $suite-a/build.log
sha256sum $suite-a/*.deb $suite-b/*.deb
for deb in $suite-a/*.deb; do
	cmp "\$deb" "$suite-b/\${deb#$suite-a/}"
	dpkg-deb -f "\$deb" Package Depends Recommends
done
apt-get install -y -qq --no-install-recommends lintian autopkgtest >/dev/null
lintian --pedantic --display-info --fail-on error,warning --info $suite-a/*.changes
autopkgtest --output-dir /root/autopkgtest $suite-a/*.changes -- null
EOF
	in_root "sh /root/build"
}

# A host that runs no i386 programs (32-bit emulation off) runs the i386
# root's under qemu, for as long as the test runs.  Static, and opened
# now (F), since the root holds no x86-64 libraries.
emulate() {
	qemu=/usr/bin/qemu-i386-static
	if [ "$1" != i386 ] || [ ! -x $qemu ]; then
		fail "this host runs no $1 programs: install qemu-user-static"
	fi
	[ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
	printf '%s' ':tovrin-fw-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'$qemu':F' >$binfmt/register
	emulated=$binfmt/tovrin-fw-i386
	arch-test i386 >/dev/null || fail "i386 programs do not run under $qemu"
}

# Runs $1 as root in $root, with a login's bare environment; /proc is
# mounted in a namespace of its own, so it goes away with the command.
# With -n as $2, in a network namespace of its own: no network.
in_root() {
	# shellcheck disable=SC2016 # expanded by the inner shell
	unshare ${2:+"$2"} --mount --fork sh -c '
		mount -t proc proc "$1/proc"
		exec env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
			chroot "$1" sh -c "$2"' - "$root" "$1" </dev/null
}

# The page from the release, against the tovrin-fw of the release's own
# amd64 package.
page() {
	dpkg-deb -x "$ARTIFACTS/tovrin-fw_${VERSION}_amd64.deb" "$work/deb"
	export ENGINE="$1" PAGE="$ARTIFACTS/$name.html" \
		TOVRIN_FW="$work/deb/usr/bin/tovrin-fw" NODE_MODULES INPUTS
	if [ "$1" = webkit ]; then
		xvfb-run -a node --test "${PAGE_TEST:?}"
	else
		node --test "${PAGE_TEST:?}"
	fi
}

case ${1-} in
sums | tarball) "$1" ;;
deb) deb "${2:?}" "${3:?}" ;;
page) page "${2:?}" ;;
source) source_package "${2:?}" ;;
*) fail "usage: release.sh sums|tarball|deb SUITE ARCH|page ENGINE|source SUITE" ;;
esac
