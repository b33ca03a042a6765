"""Forward steps of a silent installation made to fail: the exit code, the error in the setup
log, and after a failure the machine as it was before, overwritten files byte for byte, and
what the child installer registered gone again."""

from __future__ import annotations

import dataclasses
import re
import subprocess
from pathlib import Path
from typing import Callable

import pytest

from test_silent_install import (CHILD_PARTS, INSTALL_TIMEOUT, PRODUCT, ROLLBACK_NOISE, SILENT,
                                 START_MENU, UNINSTALL_KEY, install_folder, install_log)
from test_startup import EDITIONS, PACK_TOOL, log_lines, setup_program, stub_program, work_log
from winehost import harness_program, wait_until, win_build_path

FOLDER = install_folder("workstation")
MENU = START_MENU + EDITIONS["workstation"]["display"]
SERVER_DISPLAY = EDITIONS["server"]["display"]
# A file the payload overwrites, there from an earlier installation.
EARLIER_FILE = FOLDER + "\\hxvhub.inf"
EARLIER_DATA = b"; the earlier installation's driver description\r\n\x00\xff\r\n"
ERROR_MESSAGE = re.compile(r"Error during installation\.\nError code = 0x([0-9a-f]{8})\n"
                           r"Error arg0 = 0x([0-9a-f]{8})")


def repacked_setup(tmp_path: Path, missing: str | None = None,
                   replaced: dict[str, bytes] | None = None) -> Path:
    """The workstation's setup program with one payload entry left out or replaced."""
    payload = tmp_path / "payload"
    payload.mkdir()
    for entry in (win_build_path("payload") / "workstation").iterdir():
        if entry.name != missing:
            (payload / entry.name).write_bytes((replaced or {}).get(entry.name,
                                                                    entry.read_bytes()))
    program = tmp_path / "corvane-rdp-workstation-setup.exe"
    subprocess.run([str(PACK_TOOL), "create", "--stub", str(stub_program()), "-o", str(program),
                    "--dir", str(payload)], check=True, capture_output=True)
    return program


def hold(prefix, path: str) -> Callable[[], None]:
    """Holds a file open without sharing, as a running program would, until the returned
    function lets go. (A snapshot ends every program in the prefix: hold after taking it.)"""
    ready, stop = prefix.scratch / "hold-ready", prefix.scratch / "hold-stop"
    holder = prefix.start(harness_program("holdfile.exe"),
                          [path, prefix.windows_path(ready), prefix.windows_path(stop)],
                          timeout=INSTALL_TIMEOUT + 60)
    wait_until(ready.exists, f"hold on {path}", 60, holder)

    def release():
        stop.write_bytes(b"")
        assert holder.wait().exit_code == 0
    return release


@dataclasses.dataclass
class Case:
    sentence: str
    exit_code: int
    arg0: int
    # Files there before the run (Windows path -> bytes), which must stay as they were.
    kept: dict = dataclasses.field(default_factory=dict)
    blocked_by_folder: str | None = None  # a Windows path a folder takes before the run
    program: Callable | None = None  # tmp_path -> the setup program, if not the shipped one
    held: str | None = None  # a file held open during the run
    code: int | None = None  # the Win32 error in the message, where every machine agrees
    failed_step: str | None = None  # the log line right before the error message
    edition: str = "workstation"
    # The failure comes after the child installer, whose registrations must be gone again.
    after_child: bool = False


CASES = [
    # There is no fallback to another variant: the ".xp" and ".v10" ones are there.
    Case("missing payload entry", -10, 0x1000031E,
         program=lambda tmp_path: repacked_setup(tmp_path, missing="hxvhub.sys.amd64.v7"),
         failed_step="source file:hxvhub.sys.amd64.v7"),
    Case("destination locked without sharing", -10, 0x00130294, code=32,
         held=EARLIER_FILE, kept={EARLIER_FILE: EARLIER_DATA}),
    # A file of the folder's name counts as an existing folder (CreateDirectory reports it as
    # already there); the first folder inside it is where the install fails.
    Case("install folder blocked by a file", -10, 0x001303D0, {FOLDER: b"not a folder\r\n"},
         failed_step=f"CreateDirectory: {FOLDER}\\amd64"),
    Case("child installer cannot start", -10, 0x1000050E, program=lambda tmp_path: repacked_setup(
        tmp_path, replaced={PRODUCT["workstation"]["child"] + ".amd64": b"not a program\r\n"})),
    Case("help shortcut fails (warning)", 0, 0x00130459,
         blocked_by_folder=f"{MENU}\\{EDITIONS['workstation']['display']} Help.lnk"),
    # After the child installer (a reinstall whose main shortcut is blocked:
    # test_silent_install.py).
    Case("Start-menu folder blocked by a file", -10, 0x00130459, {MENU: b"not a folder\r\n"},
         after_child=True),
    Case("server: web shortcut blocked by a folder", -10, 0x00130294, edition="server",
         blocked_by_folder=f"{START_MENU}{SERVER_DISPLAY}\\{SERVER_DISPLAY} on Web.url",
         after_child=True),
]


@pytest.mark.parametrize("case", CASES, ids=[case.sentence for case in CASES])
def test_a_failing_step_ends_the_install_as_the_table_says(wine_prefix, tmp_path, case):
    program = case.program(tmp_path) if case.program else setup_program(case.edition)
    for path, data in case.kept.items():
        wine_prefix.write_file(path, data)
    if case.blocked_by_folder:
        wine_prefix.host_path(case.blocked_by_folder).mkdir(parents=True)
    before = wine_prefix.snapshot()
    release = hold(wine_prefix, case.held) if case.held else lambda: None
    try:
        result = wine_prefix.run(program, SILENT, timeout=INSTALL_TIMEOUT)
    finally:
        release()
    if case.exit_code == 0:
        lines, changes = install_log(wine_prefix, case.edition), None
    else:
        lines = log_lines(work_log(wine_prefix, case.edition))
        # Nothing may be left, not even to a restart: no case holds one of its own files.
        changes = wine_prefix.snapshot().diff(before, ignore=ROLLBACK_NOISE)
    messages = ERROR_MESSAGE.findall("\n".join(lines))

    assert result.exit_code == case.exit_code, result
    assert len(messages) == 1, "\n".join(lines)
    assert int(messages[0][1], 16) == case.arg0, messages
    assert case.code is None or int(messages[0][0], 16) == case.code, messages
    message = next(i for i, line in enumerate(lines) if line.startswith("Error during"))
    step = "Warning: " if case.exit_code == 0 else case.failed_step
    assert step is None or lines[message - 1] == step, "\n".join(lines)
    for path, data in case.kept.items():
        assert wine_prefix.read_file(path) == data, path
    if case.exit_code == 0:
        # The help shortcut is left out with a warning; everything else is in place.
        assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)
        display = EDITIONS["workstation"]["display"]
        assert wine_prefix.exists(f"{MENU}\\{display}.lnk")
        assert wine_prefix.exists(f"{MENU}\\{display} License.lnk")
        return
    assert lines[message + 1] == "=== Rollback process ===", "\n".join(lines)
    assert not changes, str(changes)
    assert "Warning: === Reboot required to complete operation ===" not in lines
    if case.after_child:
        # Each of the child's registrations was journaled and undone by its walker.
        parts = CHILD_PARTS[case.edition]
        journaled = [line for line in lines[:message] if line.startswith("Record ")]
        undone = [f"Uninstall ClassFilterDriver: {parts['driver']}",
                  f"Uninstall Service: {parts['service']}"]
        if parts["device"]:
            assert f"Record WDM Driver: {parts['device']}" in journaled, "\n".join(lines)
            undone.append(f"Uninstall WDM Driver: {parts['device']}")
        assert f"Record Service: {parts['service']}" in journaled, "\n".join(lines)
        assert any(line.startswith("Record DriverStore INF: ") for line in journaled), journaled
        assert all(line in lines[message:] for line in undone), "\n".join(lines)
