"""A setup program runs elevated, often from a downloads folder: a DLL planted there under
the name of a system DLL it loads must never be loaded."""

from __future__ import annotations

import shutil
import time

import pytest

from winehost import harness_program, win_build_path

# DLLs the setup programs load by name at run time.
RUN_TIME_DLLS = ["riched32.dll"]


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_dll_planted_beside_the_setup_or_in_the_current_folder_is_not_loaded(
        wine_prefix, tmp_path, edition):
    downloads = tmp_path / "Downloads"
    downloads.mkdir()
    setup = downloads / f"corvane-rdp-{edition}-setup.exe"
    shutil.copy(win_build_path(f"setup/corvane-rdp-{edition}-setup.exe"), setup)
    current = tmp_path / "current"
    current.mkdir()
    for name in RUN_TIME_DLLS:
        shutil.copy(harness_program("corvane_canary.dll"), downloads / name)
        shutil.copy(harness_program("corvane_canary.dll"), current / name)
    marker = tmp_path / "canary-loaded.txt"
    # Without a native-first override Wine would use its built-in DLL whatever lies beside
    # the program, and the test would pass however the program loads it.
    overrides = ";".join(f"{name.removesuffix('.dll')}=n,b" for name in RUN_TIME_DLLS)
    # The interactive start loads the rich-edit library, then shows its first window and
    # waits for the user; the window is not what this test is about.
    running = wine_prefix.start(setup, [], cwd=current, timeout=60,
                                env={"WINEDLLOVERRIDES": overrides,
                                     "CORVANE_CANARY_MARKER": wine_prefix.windows_path(marker)})
    try:
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline and not marker.exists():
            time.sleep(0.5)
    finally:
        running.kill()
    assert not marker.exists(), marker.read_text(errors="replace")


def test_the_canary_is_seen_when_a_program_does_load_a_planted_dll(wine_prefix, tmp_path):
    """The control case: the same planting, the same override, and a program that loads the
    DLL the unsafe way does pick up the canary."""
    folder = tmp_path / "Downloads"
    folder.mkdir()
    probe = folder / "dll-probe.exe"
    shutil.copy(win_build_path("tests/windows/framework_dll_probe.exe"), probe)
    shutil.copy(harness_program("corvane_canary.dll"), folder / "riched32.dll")
    marker = tmp_path / "canary-loaded.txt"
    result = wine_prefix.run(probe, ["plain", "Riched32.dll"], cwd=folder, timeout=60,
                             env={"WINEDLLOVERRIDES": "riched32=n,b",
                                  "CORVANE_CANARY_MARKER": wine_prefix.windows_path(marker)})
    assert marker.exists(), result
