#!/bin/sh
# The kernel's own firmware loader reads what tovrin-fw-install installs:
# boots Debian 12's kernel under qemu (plain emulation) on an initramfs of
# busybox, test_firmware.ko from the same kernel package, and the image
# that tovrin-fw-install put into its /lib/firmware from a vendor package.
# Inside, the loader is asked for tovrin-fw.bin, whose bytes must be the
# image, then asked again after the file is removed, when the kernel must
# log the line that README.md quotes.
#
# INSTALLER, TOVRIN_FW, EXAMPLES and README name what is tested; CACHE is
# a folder that keeps the downloaded kernel package between runs.
set -eu

fail() {
	echo "kernel-loader: $*" >&2
	exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM

# Debian's kernel package, fetched once.
mkdir -p "$CACHE"
pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
	sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
[ -n "$pkg" ] || fail "no kernel package: apt-cache knows no linux-image-amd64 (apt-get update?)"
deb=$(find "$CACHE" -name "${pkg}_*.deb" | head -n 1)
if [ -z "$deb" ]; then
	(cd "$CACHE" && apt-get download -q "$pkg" >/dev/null 2>&1) ||
		fail "no kernel package: apt-get download $pkg failed"
	deb=$(find "$CACHE" -name "${pkg}_*.deb" | head -n 1)
fi
echo "kernel: $pkg $(dpkg-deb -f "$deb" Version)"

root=$work/root
mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys"
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" --wildcards \
	'./boot/vmlinuz-*' '*/kernel/lib/test_firmware.ko'
kernel=$(find "$work/boot" -name 'vmlinuz-*')
module=$(find "$work/lib" -name test_firmware.ko)
[ -n "$module" ] || fail "no module: $pkg holds no test_firmware.ko"
cp "$module" "$root/test_firmware.ko"
busybox=$(command -v busybox) || fail "no busybox: install busybox-static"
! ldd "$busybox" >/dev/null 2>&1 || fail "$busybox is not static: install busybox-static"
cp "$busybox" "$root/bin/busybox"

"$INSTALLER" --firmware-dir "$root/lib/firmware" "$EXAMPLES/vendor/driver.zip" >/dev/null
"$TOVRIN_FW" "$EXAMPLES/sample-driver.sys" "$work/image" >/dev/null
want=$(sha256sum <"$work/image" | cut -d' ' -f1)
line=$(sed -n 's/.*"\(Direct firmware load for [^"]*\)".*/\1/p' "$README" | head -n 1)
[ -n "$line" ] || fail "README.md quotes no \"Direct firmware load\" line"

cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
insmod /test_firmware.ko
trigger=/sys/devices/virtual/misc/test_firmware/trigger_request
printf tovrin-fw.bin >$trigger && echo "e2e loaded: $(sha256sum </dev/test_firmware)"
rm /lib/firmware/tovrin-fw.bin
printf tovrin-fw.bin >$trigger 2>/dev/null || true
dmesg | grep 'Direct firmware load' | sed 's/^/e2e log: /'
echo "e2e done"
reboot -f
EOF
chmod +x "$root/init"
(cd "$root" && find . -mindepth 1 | sed "s|^\./||" | sort | bsdtar --format=newc -cf "$work/initrd" -T -)

# TCG, not KVM: under nested virtualisation KVM may hang.
status=0
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -nic none -nographic -no-reboot \
	-kernel "$kernel" -initrd "$work/initrd" \
	-append 'console=ttyS0 panic=-1 loglevel=4' \
	</dev/null >"$work/console" 2>&1 || status=$?
tr -d '\r' <"$work/console" >"$work/log"
# The console's lines may begin with the firmware's escape sequences.
if ! grep -q 'e2e done' "$work/log"; then
	cat "$work/log"
	[ "$status" -ne 124 ] || fail "boot timeout: no end of the test within 300 s"
	fail "the test inside the kernel did not end (qemu status $status)"
fi
grep -q 'e2e loaded:' "$work/log" ||
	fail "not loaded: the loader found no tovrin-fw.bin in /lib/firmware"
grep -q "e2e loaded: $want" "$work/log" || {
	grep 'e2e loaded:' "$work/log" >&2
	fail "bytes differ: the loader did not return the image (sha256 $want)"
}
grep -q "e2e log: .*$line" "$work/log" || {
	grep 'e2e log:' "$work/log" >&2 || true
	fail "no log line: the kernel did not log \"$line\""
}
echo "the loader returned the image (sha256 $want), then logged \"$line\""
