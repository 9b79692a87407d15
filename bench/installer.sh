#!/bin/sh
# Times tovrin-fw-install on each sample package against the installer of
# an earlier commit, interleaved in one hyperfine run per package.  Run it
# as root to time the readers as they run for the modem's owner.
#
#   sh bench/installer.sh [BUILD [COMMIT]]
#
# BUILD is a build folder (build/default), COMMIT the installer to compare
# with (de57614, the last one written in sh).  Last, a zip of 8,000 empty
# drivers and a real one, made here with bsdtar.
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/default}" && pwd)
commit=${2:-de57614}
command -v hyperfine >/dev/null || {
	echo "bench/installer.sh: needs hyperfine" >&2
	exit 1
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM
# The earlier installer as it is installed: tovrin-fw beside it.
mkdir "$tmp/old"
git show "$commit:src/tovrin-fw-install.sh" |
	sed "s/@TOVRIN_FW_VERSION@/$("$build/tovrin-fw" --version)/" >"$tmp/old/tovrin-fw-install"
chmod +x "$tmp/old/tovrin-fw-install"
ln -s "$build/tovrin-fw" "$tmp/old/tovrin-fw"

# 8,000 empty drivers and one real.
mkdir -p "$tmp/many/real"
cp examples/sample-driver.sys "$tmp/many/real/CnxEtU.sys"
i=0
while [ "$i" -lt 8000 ]; do
	mkdir "$tmp/many/$i" && : >"$tmp/many/$i/CnxEtU.sys"
	i=$((i + 1))
done
(cd "$tmp/many" && bsdtar -a -cf "$tmp/many.zip" .)

for package in examples/vendor/* "$tmp/many.zip"; do
	case $package in /*) ;; *) package=$PWD/$package ;; esac
	# The earlier installer takes half a minute for the many drivers.
	runs="--warmup 3 --runs 30"
	[ "$package" != "$tmp/many.zip" ] || runs="--warmup 0 --runs 3"
	# shellcheck disable=SC2086 # $runs is options
	hyperfine -N --style basic $runs \
		--prepare "rm -rf $tmp/fw" \
		-n "$commit $(basename "$package")" \
		"$tmp/old/tovrin-fw-install --firmware-dir $tmp/fw $package" \
		-n "now $(basename "$package")" \
		"$build/tovrin-fw-install --firmware-dir $tmp/fw $package"
done
