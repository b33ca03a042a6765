"""A setup program runs elevated, often from a downloads folder: a DLL planted there or in the
current folder under the name of a system DLL it loads (riched32.dll) must never be loaded.
A canary DLL stands in for the planted one; it writes a marker file when it is loaded."""

from __future__ import annotations

import shutil
import time

from winehost import harness_program, win_build_path


def test_a_dll_planted_beside_the_setup_or_in_the_current_folder_is_not_loaded(wine_prefix,
                                                                                tmp_path):
    downloads, current = tmp_path / "Downloads", tmp_path / "current"
    for folder in (downloads, current):
        folder.mkdir()
        shutil.copy(harness_program("corvane_canary.dll"), folder / "riched32.dll")
    marker = tmp_path / "canary-loaded.txt"
    # Without a native-first override Wine would use its built-in DLL whatever lies beside the
    # program, and the test would pass however the program loads it.
    env = {"WINEDLLOVERRIDES": "riched32=n,b",
           "CORVANE_CANARY_MARKER": wine_prefix.windows_path(marker)}
    # The control case: a program that loads the DLL the unsafe way does pick up the canary.
    probe = downloads / "dll-probe.exe"
    shutil.copy(win_build_path("tests/windows/framework_dll_probe.exe"), probe)
    result = wine_prefix.run(probe, ["plain", "Riched32.dll"], cwd=downloads, env=env)
    assert marker.exists(), result
    marker.unlink()

    for edition in ("workstation", "server"):
        setup = downloads / f"corvane-rdp-{edition}-setup.exe"
        shutil.copy(win_build_path(f"setup/corvane-rdp-{edition}-setup.exe"), setup)
        # The wizard loads the rich-edit library, shows its first page and waits for the user.
        running = wine_prefix.start(setup, [], cwd=current, timeout=60, env=env)
        try:
            deadline = time.monotonic() + 8
            while time.monotonic() < deadline and not marker.exists():
                time.sleep(0.5)
        finally:
            running.kill()
        assert not marker.exists(), marker.read_text(errors="replace")
