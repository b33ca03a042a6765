#!/usr/bin/env python3
"""Loading the package of about 100 MB: the setup program's reader against a reference with
the same zlib and OpenSSL's MD5, natively (build/native/bench/package_load_bench, which also
compares our MD5 with OpenSSL's and the reader's peak memory with its bound); then, under
Wine, the time from the start of a setup program carrying that package to the end of its
package load, beside the same for the setup with the sample payload and for an empty program.

The end of the load is the moment the setup log gets the version banner: a silent install
writes it as its first line right after the package is ready. The program is stopped there.

Run: /usr/bin/python3 bench/package_load_bench.py   (after scripts/build.sh native win64 win32)
"""

from __future__ import annotations

import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from winehost import (REPOSITORY, Prefix, harness_program, unique_prefix_path,  # noqa: E402
                      win_build_path)

RUNS = 3
NATIVE_BENCH = REPOSITORY / "build" / "native" / "bench" / "package_load_bench"
BIG_SETUP = REPOSITORY / "build" / "bench" / "corvane-rdp-workstation-setup-100mb.exe"
LOG_NAME = "corvane-rdp-workstation-setup.log"
BANNER = b"Corvane RDP Edition - Workstation Version 3.12\r\n"
SILENT = ["-silent", "-licenseaccept", "-norestart", "-directory", "C:\\bench-install"]


def x86_32_mode() -> str:
    """How this machine runs 32-bit x86 code: native, emulated or unavailable."""
    mode = os.environ.get("CORVANE_X86_32_MODE")
    if mode:
        return mode
    script = REPOSITORY / "scripts" / "x86-32-mode"
    if script.exists():
        return subprocess.run([str(script)], capture_output=True, text=True).stdout.strip()
    entry = Path("/proc/sys/fs/binfmt_misc/qemu-i386")
    emulated = entry.exists() and entry.read_text().startswith("enabled")
    return "emulated" if emulated else "native"


def warm(prefix: Prefix) -> None:
    """Starts the prefix's server and services outside the timed part."""
    prefix.wine("cmd", "/c", "rem", timeout=120)


def start_to_exit(prefix: Prefix, program: Path, args: list[str]) -> float:
    warm(prefix)
    started = time.monotonic()
    running = prefix.start(program, args, timeout=120)
    running.process.wait()
    elapsed = time.monotonic() - started
    result = running.wait()
    assert result.exit_code == 0, result
    return elapsed


def start_to_load(prefix: Prefix, program: Path, log: Path) -> float:
    """From the start of a silent install to the banner line in its log; then stops it."""
    log.unlink(missing_ok=True)
    warm(prefix)
    started = time.monotonic()
    running = prefix.start(program, SILENT, timeout=600)
    try:
        while True:
            # The work folder probe writes the banner without a line end and deletes the file
            # again; only the log's line counts.
            try:
                if BANNER in log.read_bytes():
                    return time.monotonic() - started
            except FileNotFoundError:
                pass
            if running.process.poll() is not None:
                raise RuntimeError(f"{program.name} ended before its package was loaded:\n"
                                   f"{running.wait()}")
            time.sleep(0.005)
    finally:
        running.kill()


def median_of(measure, runs: int = RUNS) -> float:
    measure()  # the first run reads the program from disk and warms Wine's caches
    return statistics.median(measure() for _ in range(runs))


def main() -> int:
    if not NATIVE_BENCH.exists():
        print(f"{NATIVE_BENCH} is not built; run scripts/build.sh native", file=sys.stderr)
        return 2
    stub = win_build_path("setup/corvane-rdp-workstation-stub.exe")
    payload = win_build_path("payload/workstation")
    sample_setup = win_build_path("setup/corvane-rdp-workstation-setup.exe")
    BIG_SETUP.parent.mkdir(parents=True, exist_ok=True)

    # The package: generated data and the sample payload, after the workstation setup's stub,
    # so that the setup carrying it installs like the real one.
    native = subprocess.run([str(NATIVE_BENCH), "--stub", str(stub), "--add-dir", str(payload),
                             "--keep", str(BIG_SETUP)])
    if native.returncode not in (0, 1):
        return native.returncode

    mode = x86_32_mode()
    print()
    print("under Wine, 64-bit prefix, median of %d runs:" % RUNS)
    if mode == "emulated":
        print("  NOTE: this machine runs 32-bit x86 code emulated (qemu-i386 through "
              "binfmt_misc), so the\n  setup program and Wine's 32-bit half run many times "
              "slower than on a Windows PC")
    prefix = Prefix.create(unique_prefix_path("bench-package-load"), "win64")
    try:
        out = prefix.wine("cmd", "/c", "echo %TEMP%").stdout.decode(errors="replace")
        log = prefix.host_path(out.strip().splitlines()[-1].strip()) / LOG_NAME
        empty = median_of(lambda: start_to_exit(prefix, harness_program("exitwith.exe"), ["0"]))
        sample = median_of(lambda: start_to_load(prefix, sample_setup, log))
        big = median_of(lambda: start_to_load(prefix, BIG_SETUP, log))
    finally:
        prefix.destroy()
    mib = 1024 * 1024
    print(f"  start to exit, an empty program                              {empty:7.2f} s")
    print(f"  start to end of package load, setup with the sample payload  {sample:7.2f} s "
          f"({sample_setup.stat().st_size / mib:.1f} MiB file)")
    print(f"  start to end of package load, setup with the 100 MB package  {big:7.2f} s "
          f"({BIG_SETUP.stat().st_size / mib:.1f} MiB file)")
    return native.returncode


if __name__ == "__main__":
    sys.exit(main())
