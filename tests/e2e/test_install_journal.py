"""Rollbacks that leave work to the restart, followed through the restart (`wineboot -r`),
which must leave the user's original file in place, byte for byte, or the machine as it was
before the run, and no backup or temporary file behind."""

from __future__ import annotations

from test_rollback_faults import hold
from test_silent_install import (CHILD_PARTS, INSTALL_TIMEOUT, ROLLBACK_NOISE, SILENT, START_MENU,
                                 install_folder)
from test_startup import EDITIONS, log_lines, setup_program, work_log
from winehost import wait_until, win_build_path

FOLDER = r"C:\corvane-journal"
NAME = "corvanews.exe"
ORIGINAL = bytes(range(256)) * 4 + b"\r\n\x00end"
NEW_DATA = b"new data from the installation"


def pending_renames(prefix) -> list[str]:
    value = prefix.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                             "PendingFileRenameOperations", view=64)
    return [] if value is None else value.data


# The probe (tests/windows/installer_journal_probe.cpp) installs over a file that it holds open
# like a running program, rolls the installation back and ends. "install": the file is in use
# from the start, so its new data also waits for the restart, in a temporary file the rollback
# deletes. "rollback": the new data was written and only the way back is blocked.
def test_the_restart_puts_the_users_file_back(wine_prefix):
    target = f"{FOLDER}\\{NAME}"
    for hold_from, before_restart in (("install", ORIGINAL), ("rollback", NEW_DATA)):
        wine_prefix.write_file(target, ORIGINAL)
        result = wine_prefix.run(win_build_path("tests/windows/installer-journal-probe.exe"),
                                 [FOLDER, NAME, hold_from])
        assert result.exit_code == 0, result
        fields = dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)
        backup = fields["backup"]
        assert fields["restart"] == "1", "the user must be asked to restart"
        # The installer is gone, and with it its final commit: the backup, now the only copy
        # of the user's file, must have survived it.
        assert wine_prefix.read_file(backup) == ORIGINAL, hold_from
        assert wine_prefix.read_file(target) == before_restart, hold_from
        renames = pending_renames(wine_prefix)
        assert renames[renames.index(f"\\??\\{backup}") + 1] == f"!\\??\\{target}", renames

        wine_prefix.wine("wineboot", "-r")

        assert wine_prefix.read_file(target) == ORIGINAL, hold_from
        assert not wine_prefix.exists(backup)
        # No backup or temporary file may stay behind.
        assert sorted(p.name for p in wine_prefix.host_path(FOLDER).iterdir()) == [NAME]
        assert pending_renames(wine_prefix) == []


def test_the_restart_after_a_failed_install_leaves_nothing_of_the_product(wine_prefix):
    """A whole silent installation fails after the child installer while a driver file it
    copied is held open by another program: the rollback leaves that file, its folder and
    the install folder to the restart, in that order, and after the restart the machine is
    as it was before the run."""
    display = EDITIONS["workstation"]["display"]
    folder = install_folder("workstation")
    driver = folder + "\\amd64\\hxvhub.sys"
    # Fails at the main shortcut, after the child.
    wine_prefix.write_file(START_MENU + display, b"not a folder\r\n")
    before = wine_prefix.snapshot()

    setup = wine_prefix.start(setup_program(), SILENT, timeout=INSTALL_TIMEOUT,
                              env={"CORVANE_CHILD_MODE": "long", "CORVANE_CHILD_SECONDS": "8"})
    wait_until(lambda: wine_prefix.exists(driver), "copy of the driver", 60, setup, pause=0.2)
    release = hold(wine_prefix, driver)
    result = setup.wait()
    release()
    assert result.exit_code == -10, result

    lines = log_lines(work_log(wine_prefix, "workstation"))
    rollback = lines.index("=== Rollback process ===")
    assert f"Record Service: {CHILD_PARTS['workstation']['service']}" in lines[:rollback]
    # Read while the prefix's server still runs: a new one would carry them out at its start.
    # Deletions only (the value as read leaves out their empty targets), file first.
    assert pending_renames(wine_prefix) == [
        f"\\??\\{driver}", f"\\??\\{folder}\\amd64", f"\\??\\{folder}"]

    wine_prefix.wine("wineboot", "-r")

    assert not (diff := wine_prefix.snapshot().diff(before, ignore=ROLLBACK_NOISE)), diff
