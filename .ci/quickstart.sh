#!/bin/sh
# README.md's Quick start as a new user meets it: its two commands, read
# out of the README as they stand, run as root in the unpacked source on a
# fresh, minimal Debian SUITE (mmdebstrap, nothing added).  Fails when the
# first does not print the sample's offset line, or when the second fails
# or skips a test.  COMMAND, if given, then runs in the same root, as a
# developer's next step there.
#
#   sh .ci/quickstart.sh SUITE [COMMAND]
set -eu
cd "$(dirname "$0")/.."
suite=${1:?usage: quickstart.sh SUITE [COMMAND]}
then=${2-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

sed -n '/^## Quick start$/,/^## /s/^    //p' README.md >"$work/commands"
if [ "$(wc -l <"$work/commands")" -ne 2 ]; then
	echo "quickstart: README.md's Quick start must hold two commands:" >&2
	cat "$work/commands" >&2
	exit 1
fi

root=$work/root
sh tests/fresh-root.sh "$suite" amd64 "$root"
mkdir "$root/root/tovrin-fw"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$root/root/tovrin-fw"

# Runs $1 in the source folder, in the fresh root, with a login's bare
# environment; /proc is mounted in a namespace of its own, so it goes
# away with the command.
in_root() {
	# shellcheck disable=SC2016 # expanded by the inner shell
	unshare --mount --fork sh -c '
		mount -t proc proc "$1/proc"
		exec env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
			chroot "$1" sh -c "cd /root/tovrin-fw && $2"' - "$root" "$1" </dev/null
}

n=0
while IFS= read -r command; do
	n=$((n + 1))
	echo "--- Quick start $n: $command"
	start=$(date +%s)
	status=0
	in_root "$command" >"$work/out$n" 2>&1 || status=$?
	echo "--- took $(($(date +%s) - start)) s, status $status"
	if [ "$status" -ne 0 ]; then
		cat "$work/out$n"
		exit 1
	fi
done <"$work/commands"

offset="found firmware in \`examples/sample-driver.sys' at offset 0x6a0"
if ! grep -qxF "$offset" "$work/out1"; then
	cat "$work/out1"
	echo "quickstart: the first command did not print: $offset" >&2
	exit 1
fi
echo "$offset"
if grep -q 'did not run' "$work/out2" || ! grep -q '^100% tests passed' "$work/out2"; then
	cat "$work/out2"
	echo "quickstart: the suite skipped or failed a test" >&2
	exit 1
fi
grep '^100% tests passed' "$work/out2"

if [ -n "$then" ]; then
	echo "--- then: $then"
	start=$(date +%s)
	status=0
	in_root "$then" >"$work/then" 2>&1 || status=$?
	echo "--- took $(($(date +%s) - start)) s, status $status"
	if [ "$status" -ne 0 ] || grep -q 'did not run' "$work/then"; then
		cat "$work/then"
		echo "quickstart: the command failed or skipped a test" >&2
		exit 1
	fi
	tail -n 3 "$work/then"
fi
