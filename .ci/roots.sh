#!/bin/sh
# Fresh, minimal Debian roots (mmdebstrap, nothing added), each made once
# for a CI run: DIR/SUITE-ARCH.tar for Debian 12 and 13, for amd64 and for
# i386 where this host runs i386 programs.  .ci/quickstart.sh and
# tests/release.sh each unpack their own copy of the one they need, and
# make it themselves where DIR lacks it.
#
#   sh .ci/roots.sh DIR
set -eu
dir=${1:?usage: roots.sh DIR}
mkdir -p "$dir"
part=
trap '[ -z "$part" ] || rm -f "$part"' EXIT
trap 'exit 1' INT TERM HUP

for arch in amd64 i386; do
	arch-test "$arch" >/dev/null 2>&1 || continue
	for suite in bookworm trixie; do
		part=$dir/$suite-$arch.part.tar
		sh "$(dirname "$0")/../tests/fresh-root.sh" "$suite" "$arch" "$part"
		mv "$part" "$dir/$suite-$arch.tar"
		part=
		echo "$suite $arch: $(du -h "$dir/$suite-$arch.tar" | cut -f1)"
	done
done
