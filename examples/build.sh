#!/bin/sh
# Rebuilds sample-driver.sys from sample-driver.c: a native-subsystem PE32
# image with no C library, and no time stamp, so the build is repeatable.
set -eu
cd "$(dirname "$0")"
i686-w64-mingw32-gcc -O2 -Wall -Wextra -fno-asynchronous-unwind-tables \
	-shared -nostdlib -s \
	-Wl,--subsystem,native -Wl,--entry,_DriverEntry@8 \
	-Wl,--no-insert-timestamp -Wl,--build-id=none \
	-o sample-driver.sys sample-driver.c
