#!/bin/sh
# Times tovrin-fw-install on each sample package against the installer of
# an earlier commit, interleaved in one hyperfine run per package.  Run it
# as root to time the readers as they run for the modem's owner.
#
#   sh bench/installer.sh [BUILD [COMMIT]]
#
# BUILD is a build folder (build/default), COMMIT the installer to compare
# with (2b93fe7, the last one that read packages with root's rights).
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/default}" && pwd)
commit=${2:-2b93fe7}
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

for package in examples/vendor/*; do
	hyperfine -N --style basic --warmup 3 --runs 30 \
		--prepare "rm -rf $tmp/fw" \
		-n "$commit $(basename "$package")" \
		"$tmp/old/tovrin-fw-install --firmware-dir $tmp/fw $PWD/$package" \
		-n "now $(basename "$package")" \
		"$build/tovrin-fw-install --firmware-dir $tmp/fw $PWD/$package"
done
