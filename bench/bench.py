#!/usr/bin/env python3
"""Times tovrin-fw against `cat FILE > /dev/null` on the same warm driver.

Builds drivers whose .data section is zeros, random bytes or real ARM
machine code, with the image at the section's end, then runs both commands
interleaved and prints the median time of each and their ratio per class.
Needs Python 3 and, for the ARM class, gcc-arm-none-eabi.
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import tempfile
import time

FWSTART = bytes.fromhex("1c249fe5 0010a0e3 001082e5 220000eb")
BPSTART = bytes.fromhex("78209fe5 0110a0e3 001082e5 70209fe5")
HERE = pathlib.Path(__file__).resolve().parent
DATA_PTR = 0x200
IMAGE = 64 * 1024


def arm_code(workdir):
    """Machine code of armcode.c, compiled for several ARM cores and
    optimisation levels so that the tile is not one short period."""
    code = b""
    for cpu in ("arm7tdmi", "arm9tdmi", "arm1136j-s"):
        for opt in ("-O0", "-O1", "-O2", "-Os", "-O3"):
            obj = os.path.join(workdir, "armcode.o")
            out = os.path.join(workdir, "armcode.bin")
            subprocess.run(["arm-none-eabi-gcc", "-marm", "-mcpu=" + cpu, opt,
                            "-ffreestanding", "-c", str(HERE / "armcode.c"),
                            "-o", obj], check=True)
            subprocess.run(["arm-none-eabi-objcopy", "-O", "binary",
                            "-j", ".text", obj, out], check=True)
            code += pathlib.Path(out).read_bytes()
    assert FWSTART not in code and BPSTART not in code
    return code


def filler(kind, size, workdir):
    if kind == "zeros":
        return bytes(size)
    if kind == "random":
        data = bytearray(os.urandom(size))
    else:
        tile = arm_code(workdir)
        data = bytearray((tile * (size // len(tile) + 1))[:size])
    # Keep the only fwstart the one we place at the end.
    while (at := data.find(FWSTART)) >= 0:
        data[at] ^= 0xff
    return data


def make_driver(path, kind, size, workdir):
    """A minimal PE file: one .data section from DATA_PTR to the end of
    the file, whose last IMAGE bytes are the image."""
    raw = size - DATA_PTR
    head = bytearray(DATA_PTR)
    head[0:2] = b"MZ"
    head[0x3c:0x40] = (0x40).to_bytes(4, "little")
    head[0x40:0x44] = b"PE\0\0"
    head[0x46:0x48] = (1).to_bytes(2, "little")
    sect = 0x40 + 24
    head[sect:sect + 5] = b".data"
    head[sect + 16:sect + 20] = raw.to_bytes(4, "little")
    head[sect + 20:sect + 24] = DATA_PTR.to_bytes(4, "little")
    data = bytearray(filler(kind, raw, workdir))
    data[raw - IMAGE:raw - IMAGE + 16] = FWSTART
    with open(path, "wb") as f:
        f.write(head)
        f.write(data)


def run_once(argv):
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=[
        (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{argv} failed")
    return elapsed


def measure(tool, cat, driver, out, runs):
    run_once([cat, driver])  # warm the page cache
    times = {"tovrin-fw": [], "cat": []}
    for _ in range(runs):
        times["cat"].append(run_once([cat, driver]))
        times["tovrin-fw"].append(run_once([tool, driver, out]))
        os.unlink(out)
    return {k: statistics.median(v) for k, v in times.items()}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--tool", default=str(HERE.parent / "build/default/tovrin-fw"))
    p.add_argument("--size", type=int, default=256, help="driver size in MiB")
    p.add_argument("--runs", type=int, default=21)
    p.add_argument("--classes", default="zeros,random,arm")
    p.add_argument("--small", type=int, default=1,
                   help="also time a driver of this many MiB (0: no)")
    args = p.parse_args()

    cases = [(k, args.size) for k in args.classes.split(",")]
    if args.small:
        cases.append(("arm", args.small))
    if not shutil.which("arm-none-eabi-gcc"):
        print("skipping the ARM machine-code drivers: arm-none-eabi-gcc not"
              " found (Debian package gcc-arm-none-eabi)")
        cases = [c for c in cases if c[0] != "arm"]
    cat = subprocess.run(["sh", "-c", "command -v cat"], capture_output=True,
                         text=True, check=True).stdout.strip()
    print(f"{'driver':<14} {'tovrin-fw':>10} {'cat':>10} {'ratio':>6}")
    with tempfile.TemporaryDirectory() as workdir:
        for kind, mib in cases:
            driver = os.path.join(workdir, f"{kind}-{mib}.sys")
            make_driver(driver, kind, mib << 20, workdir)
            # A small driver's run is mostly process start-up, whose
            # noise takes more runs to average out.
            runs = args.runs if mib >= 16 else args.runs * 10
            t = measure(os.path.abspath(args.tool), cat, driver,
                        os.path.join(workdir, "fw.bin"), runs)
            ratio = t["tovrin-fw"] / t["cat"]
            print(f"{kind + f' {mib} MiB':<14} {t['tovrin-fw'] * 1e3:8.2f}ms"
                  f" {t['cat'] * 1e3:8.2f}ms {ratio:6.2f}", flush=True)
            os.unlink(driver)


if __name__ == "__main__":
    main()
