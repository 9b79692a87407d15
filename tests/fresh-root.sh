#!/bin/sh
# A fresh, minimal Debian root (mmdebstrap --variant=minbase, nothing
# added) for SUITE and ARCH at DEST: a folder, or a tarball where DEST
# ends in .tar.  A folder is unpacked from the tarball that .ci/roots.sh
# made for this CI run in TOVRIN_FW_ROOTS, where there is one.
#
#   sh tests/fresh-root.sh SUITE ARCH DEST
set -eu
suite=${1:?usage: fresh-root.sh SUITE ARCH DEST} arch=${2:?} dest=${3:?}

made=${TOVRIN_FW_ROOTS-}/$suite-$arch.tar
case $dest in
*.tar) ;;
*)
	if [ -n "${TOVRIN_FW_ROOTS-}" ] && [ -f "$made" ]; then
		mkdir "$dest"
		exec tar -xpf "$made" -C "$dest"
	fi
	;;
esac
# A mirror caught mid-sync can fail a security index for days; the
# release's own suite is all that a root needs.
mmdebstrap --quiet --variant=minbase --architectures="$arch" "$suite" "$dest" && exit
echo "$suite $arch: a fresh root without the security suite" >&2
rm -rf "$dest"
# shellcheck disable=SC2016 # expanded by mmdebstrap's hook
exec mmdebstrap --quiet --variant=minbase --architectures="$arch" \
	--setup-hook='sed -i "/-security/d" "$1/etc/apt/sources.list"' \
	"$suite" "$dest"
