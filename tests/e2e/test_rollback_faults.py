"""Every forward step of a silent installation that can fail, made to fail on a real machine
under Wine: the exit code, the error in the setup log, and after a failure the machine as it
was before, overwritten files byte for byte, and what the child installer registered (service,
class filter, INF, device) gone again. A table of the cases and their outcomes is printed at
the end of the run."""

from __future__ import annotations

import dataclasses
import re
import time
from pathlib import Path
from typing import Callable

import pytest

from test_silent_install import (CHILD_PARTS, INSTALL_TIMEOUT, PRODUCT, ROLLBACK_NOISE, SILENT,
                                 START_MENU, install_folder, install_log, product_registrations,
                                 repacked_setup)
from test_startup import EDITIONS, log_lines, setup_program, work_log
from winehost import harness_program

DISPLAY = EDITIONS["workstation"]["display"]
FOLDER = install_folder("workstation")
# A file the payload overwrites, there from an earlier installation.
EARLIER_FILE = FOLDER + "\\hxvhub.inf"
EARLIER_DATA = b"; the earlier installation's driver description\r\n\x00\xff\r\n"


@dataclasses.dataclass
class Fault:
    """What a case sets up: the program to run, and what to start right before the run and
    undo once it has ended (a helper holding a file). Taking a snapshot restarts the prefix's
    server, which ends every program in it, so the helper starts after the snapshot."""
    program: Path
    before_run: Callable[[], None] = lambda: None
    after_run: Callable[[], None] = lambda: None


def missing_entry(prefix, tmp_path):
    return Fault(repacked_setup(tmp_path, "workstation", missing="hxvhub.sys.amd64.v7"))


def locked_destination(prefix, tmp_path):
    prefix.write_file(EARLIER_FILE, EARLIER_DATA)
    ready, stop = prefix.scratch / "holdfile-ready", prefix.scratch / "holdfile-stop"
    holder = []

    def hold():
        prefix.scratch.mkdir(parents=True, exist_ok=True)
        holder.append(prefix.start(
            harness_program("holdfile.exe"),
            [EARLIER_FILE, prefix.windows_path(ready), prefix.windows_path(stop)],
            timeout=INSTALL_TIMEOUT + 60))
        deadline = time.monotonic() + 60
        while not ready.exists():
            assert time.monotonic() < deadline, "holdfile never took the file"
            time.sleep(0.1)

    def release():
        stop.write_bytes(b"")
        assert holder and holder[0].wait().exit_code == 0

    return Fault(setup_program("workstation"), hold, release)


def folder_blocked_by_file(prefix, tmp_path):
    prefix.write_file(FOLDER, b"not a folder\r\n")
    return Fault(setup_program("workstation"))


def child_cannot_start(prefix, tmp_path):
    child = PRODUCT["workstation"]["child"] + ".amd64"
    return Fault(repacked_setup(tmp_path, "workstation", replaced={child: b"not a program\r\n"}))


def child_reports_error(prefix, tmp_path):
    return Fault(setup_program("workstation"))


def menu_folder_blocked_by_file(prefix, tmp_path, edition="workstation"):
    prefix.write_file(START_MENU + EDITIONS[edition]["display"], b"not a folder\r\n")
    return Fault(setup_program(edition))


def blocked_by_folder(name_after_display):
    """A folder where a shortcut of the Start-menu folder goes."""
    def prepare(prefix, tmp_path, edition="workstation"):
        display = EDITIONS[edition]["display"]
        prefix.host_path(START_MENU).joinpath(display, display + name_after_display).mkdir(
            parents=True)
        return Fault(setup_program(edition))
    return prepare


def help_shortcut_blocked_by_folder(prefix, tmp_path):
    prefix.host_path(f"{START_MENU}{DISPLAY}\\{DISPLAY} Help.lnk").mkdir(parents=True)
    return Fault(setup_program("workstation"))


@dataclasses.dataclass
class Case:
    sentence: str
    prepare: Callable
    exit_code: int
    arg0: int
    # The Win32 error in the message, where it is the same on every machine.
    code: int | None = None
    env: dict | None = None
    # Files (Windows paths) that must hold these bytes after the run.
    kept: dict = dataclasses.field(default_factory=dict)
    # The log line right before the error message: the step that failed.
    failed_step: str | None = None
    edition: str = "workstation"
    # The failure comes after the child installer, whose registrations must be gone again.
    after_child: bool = False


# After the child installer, in both editions: the Start-menu folder, the main shortcut and
# the web shortcut each made impossible.
AFTER_CHILD = [
    ("Start-menu folder blocked by a file", menu_folder_blocked_by_file, 0x00130459),
    ("main shortcut blocked by a folder", blocked_by_folder(".lnk"), 0x00130459),
    ("web shortcut blocked by a folder", blocked_by_folder(" on Web.url"), 0x00130294),
]

CASES = [
    Case("missing payload entry", missing_entry, -10, 0x1000031E),
    Case("destination locked without sharing", locked_destination, -10, 0x00130294, code=32,
         kept={EARLIER_FILE: EARLIER_DATA}),
    # A file of the folder's name counts as an existing folder (CreateDirectory reports it as
    # already there); the first folder inside it is where the install fails.
    Case("install folder blocked by a file", folder_blocked_by_file, -10, 0x001303D0,
         kept={FOLDER: b"not a folder\r\n"}, failed_step=f"CreateDirectory: {FOLDER}\\amd64"),
    Case("child installer cannot start", child_cannot_start, -10, 0x1000050E),
    Case("child reports NotifyError", child_reports_error, -10, 0x20000021, code=5,
         env={"CORVANE_CHILD_MODE": "error"}),
    Case("help shortcut fails (warning)", help_shortcut_blocked_by_folder, 0, 0x00130459),
] + [
    Case(f"{edition}: {sentence}",
         lambda prefix, tmp_path, prepare=prepare, edition=edition: prepare(prefix, tmp_path,
                                                                            edition),
         -10, arg0, edition=edition, after_child=True)
    for edition in ("workstation", "server") for sentence, prepare, arg0 in AFTER_CHILD
]

ERROR_MESSAGE = re.compile(r"Error during installation\.\nError code = 0x([0-9a-f]{8})\n"
                           r"Error arg0 = 0x([0-9a-f]{8})")


def unexpected_changes(before, after) -> str:
    """What the run changed beyond what a failed installation may leave: its log and the
    RunOnce key. No case holds a file in use, so nothing may be left to a restart either."""
    diff = after.diff(before, ignore=ROLLBACK_NOISE)
    return str(diff) if diff else ""


@pytest.mark.parametrize("case", CASES, ids=[case.sentence for case in CASES])
def test_a_failing_step_ends_the_install_as_the_table_says(wine_prefix, tmp_path, case,
                                                          fault_outcomes):
    fault = case.prepare(wine_prefix, tmp_path)
    before = wine_prefix.snapshot()
    try:
        fault.before_run()
        result = wine_prefix.run(fault.program, SILENT, env=case.env, timeout=INSTALL_TIMEOUT)
    finally:
        fault.after_run()
    if case.exit_code == 0:
        lines = install_log(wine_prefix, case.edition)
        changes = None
    else:
        lines = log_lines(work_log(wine_prefix, case.edition))
        changes = unexpected_changes(before, wine_prefix.snapshot())
    messages = ERROR_MESSAGE.findall("\r\n".join(lines).replace("\r\n", "\n"))
    arg0 = int(messages[0][1], 16) if messages else None
    fault_outcomes.append({
        "case": case.sentence, "exit": result.exit_code,
        "arg0": "0x%.8x" % arg0 if arg0 is not None else "-",
        "machine as before": "n/a" if changes is None else ("no" if changes else "yes")})

    assert result.exit_code == case.exit_code, result
    assert len(messages) == 1, "\n".join(lines)
    assert arg0 == case.arg0, messages
    if case.code is not None:
        assert int(messages[0][0], 16) == case.code, messages
    if case.failed_step is not None:
        message = next(i for i, line in enumerate(lines) if line.startswith("Error during"))
        assert lines[message - 1] == case.failed_step, "\n".join(lines)
    for path, data in case.kept.items():
        assert wine_prefix.read_file(path) == data, path
    if case.exit_code == 0:
        # The help shortcut is left out with a warning; everything else is in place.
        message = next(i for i, line in enumerate(lines) if line.startswith("Error during"))
        assert lines[message - 1] == "Warning: ", "\n".join(lines)
        assert wine_prefix.reg_exists(
            "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
            + PRODUCT["workstation"]["code"], view=32)
        assert wine_prefix.exists(f"{START_MENU}{DISPLAY}\\{DISPLAY}.lnk")
        assert wine_prefix.exists(f"{START_MENU}{DISPLAY}\\{DISPLAY} License.lnk")
    else:
        rollback = lines.index("=== Rollback process ===")
        assert lines[rollback - 1].startswith("Error during installation."), "\n".join(lines)
        assert not changes, changes
        assert "Warning: === Reboot required to complete operation ===" not in lines, \
            "\n".join(lines)
    if case.after_child:
        # Each of the child's registrations was journaled and undone by its walker.
        parts = CHILD_PARTS[case.edition]
        journaled = [line for line in lines[:rollback] if line.startswith("Record ")]
        undone = [f"Uninstall ClassFilterDriver: {parts['driver']}",
                  f"Uninstall Service: {parts['service']}"]
        if parts["device"]:
            assert f"Record WDM Driver: {parts['device']}" in journaled, "\n".join(lines)
            undone.append(f"Uninstall WDM Driver: {parts['device']}")
        assert f"Record Service: {parts['service']}" in journaled, "\n".join(lines)
        assert any(line.startswith("Record DriverStore INF: ") for line in journaled), journaled
        assert all(line in lines[rollback:] for line in undone), "\n".join(lines)
        assert product_registrations(wine_prefix, case.edition) == []
