"""What an administrator sees of a setup program's start-up: exit codes, the setup log and
the files unpack mode writes, under Wine."""

from __future__ import annotations

import hashlib
import shutil
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, win_build_path

EDITIONS = {
    "workstation": {
        "display": "Corvane RDP Edition - Workstation",
        "log": "corvane-rdp-workstation-setup.log",
        "banner": "Corvane RDP Edition - Workstation Version 3.12",
    },
    "server": {
        "display": "Corvane RDP Edition - Server",
        "log": "corvane-rdp-server-setup.log",
        "banner": "Corvane RDP Edition - Server Version 3.12",
    },
}
PACK_TOOL = REPOSITORY / "build" / "native" / "tools" / "corvane-pack" / "corvane-pack"


def setup_program(edition: str = "workstation") -> Path:
    return win_build_path(f"setup/corvane-rdp-{edition}-setup.exe")


def stub_program(edition: str = "workstation") -> Path:
    return win_build_path(f"setup/corvane-rdp-{edition}-stub.exe")


def test_setup_program(edition: str = "workstation") -> Path:
    """The same setup program built with the test hooks (tests/hooks/setup_test_hooks.cpp)."""
    return win_build_path(f"setup/test/corvane-rdp-{edition}-setup.exe")


test_setup_program.__test__ = False  # a helper, not a test


def temp_folder(prefix) -> Path:
    """The folder GetTempPath names for the prefix's user: the first work folder candidate."""
    out = prefix.wine("cmd", "/c", "echo %TEMP%").stdout.decode(errors="replace")
    return prefix.host_path(out.strip().splitlines()[-1].strip())


def work_log(prefix, edition: str = "workstation") -> Path:
    return temp_folder(prefix) / EDITIONS[edition]["log"]


RUN_ONCE_LINE = "Create 'RunOnce' registry key entry"


def log_lines(path: Path) -> list[str]:
    """The log's lines; the RunOnce line, which only a machine without the key gets, is
    dropped so that tests read the same on every prefix."""
    data = path.read_bytes()
    if not data:
        return []
    assert data.endswith(b"\r\n"), data[-40:]
    lines = data.decode("latin-1").split("\r\n")[:-1]
    return [line for line in lines[:1] if line != RUN_ONCE_LINE] + lines[1:]


def package_entries(program: Path) -> dict[str, bytes]:
    """The payload as the package tool extracts it: name -> content."""
    folder = program.parent / (program.name + ".extracted")
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([str(PACK_TOOL), "extract", str(program), "-d", str(folder)], check=True,
                   capture_output=True)
    entries = {p.name: p.read_bytes() for p in folder.iterdir()}
    shutil.rmtree(folder)
    return entries


# A silent run that stops before installing must end quickly and never show a window: a
# message box would hold the process until the harness's timeout.
QUICK = 60


@pytest.mark.parametrize("arguments, exit_code", [
    # Silent without accepting the licence is refused, whatever else is asked.
    (["-silent"], -7),
    (["-SILENT", "-norestart"], -7),
    (["-silent", "-directory", "C:\\x"], -7),
    # Unpack wins over silent: nothing is installed, the payload is written.
    (["-silent", "-unpack"], 0),
    (["-UnPack"], 0),
])
def test_command_line_picks_the_mode_and_exit_code(wine_prefix, tmp_path, arguments, exit_code):
    work = tmp_path / "cwd"
    work.mkdir()
    result = wine_prefix.run(setup_program(), arguments, cwd=work, timeout=QUICK)
    assert result.exit_code == exit_code, result
    written = sorted(p.name for p in work.iterdir())
    if "-unpack" in [a.lower() for a in arguments]:
        assert written == sorted(package_entries(setup_program()))
    else:
        assert written == []


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_unpack_writes_every_entry_into_the_current_folder(wine_prefix, tmp_path, edition):
    work = tmp_path / "unpack here"
    work.mkdir()
    result = wine_prefix.run(setup_program(edition), ["-unpack"], cwd=work, timeout=QUICK)
    assert result.exit_code == 0, result
    expected = package_entries(setup_program(edition))
    assert {p.name: p.read_bytes() for p in work.iterdir()} == expected
    # A successful unpack has no install folder to copy its log into; the work folder's
    # copy is removed.
    assert not work_log(wine_prefix, edition).exists()


def test_unpack_over_existing_files_replaces_them_and_leaves_no_backups(wine_prefix, tmp_path):
    work = tmp_path / "cwd"
    work.mkdir()
    (work / "readme.txt").write_bytes(b"an older readme\r\n")
    (work / "notes.txt").write_bytes(b"the user's own file\r\n")
    result = wine_prefix.run(setup_program(), ["-unpack"], cwd=work, timeout=QUICK)
    assert result.exit_code == 0, result
    expected = package_entries(setup_program())
    expected["notes.txt"] = b"the user's own file\r\n"
    assert {p.name: p.read_bytes() for p in work.iterdir()} == expected


def test_a_stub_without_package_refuses_a_silent_install(wine_prefix):
    result = wine_prefix.run(stub_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert result.exit_code == -8, result
    # An early end leaves the log in the work folder: the start-up lines are in it.
    assert work_log(wine_prefix).exists()


def test_a_damaged_package_refuses_a_silent_install(wine_prefix, tmp_path):
    result = wine_prefix.run(damaged_setup(tmp_path), ["-silent", "-licenseaccept"],
                             timeout=QUICK)
    assert result.exit_code == -8, result


def damaged_setup(tmp_path) -> Path:
    damaged = tmp_path / "corvane-rdp-workstation-setup.exe"
    data = bytearray(setup_program().read_bytes())
    data[-10] ^= 0x01  # inside the last entry's packed data
    damaged.write_bytes(bytes(data))
    return damaged


# Unpack mode reports a package it cannot use as the other modes do: exit code -8 and, with
# messages allowed, the package error's text; nothing is written.
@pytest.mark.parametrize("program", ["stub", "damaged"])
def test_unpack_of_a_missing_or_damaged_package_fails_with_the_package_error(
        wine_prefix, tmp_path, program):
    text = ("Installation package is damaged! Please download the latest version of "
            "Corvane RDP Edition - Workstation from our web site and try again!")
    work = tmp_path / "cwd"
    work.mkdir()
    path = stub_program() if program == "stub" else damaged_setup(tmp_path)
    quiet = wine_prefix.run(path, ["-unpack", "-silent"], cwd=work, timeout=QUICK)
    assert quiet.exit_code == -8, quiet
    running = wine_prefix.start(path, ["-unpack"], cwd=work, timeout=QUICK)
    try:
        box = wine_prefix.wait_for_window(EDITIONS["workstation"]["display"], timeout=30)
        assert message_box_text(box) == text
        wine_prefix.click(box, 1)
        result = running.wait(timeout=QUICK)
    finally:
        running.kill()
    assert result.exit_code == -8, result
    assert list(work.iterdir()) == []


@pytest.mark.windows_version("nt40")
def test_windows_nt4_is_refused_with_its_exit_code_and_log_line(wine_prefix):
    result = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert result.exit_code == -5, result
    assert log_lines(work_log(wine_prefix)) == ["Error: System OS version"]


# The stand-in child installer reports an error when told so; the install then fails and
# rolls back.
CHILD_FAILS = {"CORVANE_CHILD_MODE": "error"}


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_silent_install_that_cannot_complete_reports_failure_and_keeps_the_log(
        wine_prefix, edition):
    result = wine_prefix.run(setup_program(edition), ["-silent", "-licenseaccept"],
                             env=CHILD_FAILS, timeout=QUICK)
    assert result.exit_code == -10, result
    lines = log_lines(work_log(wine_prefix, edition))
    assert lines[0] == EDITIONS[edition]["banner"]
    assert lines[1].startswith("Windows ") and lines[1].endswith(" x64")
    rollback = lines.index("=== Rollback process ===")
    assert lines[rollback - 1].startswith("Error during installation.\nError code = 0x")


def test_a_fault_inside_the_install_is_caught_and_reported_as_a_failed_install(wine_prefix):
    result = wine_prefix.run(test_setup_program(), ["-silent", "-licenseaccept"],
                             env={"CORVANE_TEST_INJECT_FAULT": "1"}, timeout=QUICK)
    assert result.exit_code == -10, result
    assert work_log(wine_prefix).exists()


def test_two_runs_leave_only_the_second_runs_lines(wine_prefix, tmp_path):
    work = tmp_path / "cwd"
    work.mkdir()
    first = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"], env=CHILD_FAILS,
                            timeout=QUICK)
    assert first.exit_code == -10, first
    second = wine_prefix.run(stub_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert second.exit_code == -8, second
    assert log_lines(work_log(wine_prefix)) == []


def test_with_the_temp_folder_unwritable_the_log_goes_to_the_windows_temp_folder(wine_prefix):
    # Wine builds a program's TEMP and TMP from the user's registry environment.
    for name in ("TEMP", "TMP"):
        wine_prefix.reg_set("HKCU\\Environment", name, "C:\\no such folder", view=64)
    result = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"], env=CHILD_FAILS,
                             timeout=QUICK)
    assert result.exit_code == -10, result
    log = wine_prefix.host_path("C:\\windows\\Temp") / EDITIONS["workstation"]["log"]
    assert log_lines(log)[0] == EDITIONS["workstation"]["banner"]


def test_32bit_windows_gets_the_x86_line(wine_prefix32):
    result = wine_prefix32.run(setup_program(), ["-silent", "-licenseaccept"], env=CHILD_FAILS,
                               timeout=QUICK)
    assert result.exit_code == -10, result
    assert log_lines(work_log(wine_prefix32))[1].endswith(" x86")


def message_box_text(window) -> str:
    """The text of a message box: its static control 0xFFFF."""
    return next(c.text for c in window.controls if c.id == 0xFFFF)


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_with_im_a_silent_refusal_says_why_in_a_message_box(wine_prefix, edition):
    display_name = EDITIONS[edition]["display"]
    running = wine_prefix.start(setup_program(edition), ["-silent", "-im"], timeout=QUICK)
    try:
        box = wine_prefix.wait_for_window(display_name, timeout=30)
        assert box.title == display_name
        assert message_box_text(box).startswith(f"{display_name} was not installed: a silent "
                                                "installation needs the -licenseaccept option")
        wine_prefix.click(box, 1)  # OK
        result = running.wait(timeout=QUICK)
    finally:
        running.kill()
    assert result.exit_code == -7, result


@pytest.mark.windows_version("nt40")
def test_outside_silent_mode_a_start_up_refusal_is_shown(wine_prefix):
    running = wine_prefix.start(setup_program(), [], timeout=QUICK)
    try:
        box = wine_prefix.wait_for_window(EDITIONS["workstation"]["display"], timeout=30)
        assert message_box_text(box) == "This program requires Windows 2000 SP4 or newer."
        wine_prefix.click(box, 1)
        result = running.wait(timeout=QUICK)
    finally:
        running.kill()
    assert result.exit_code == -5, result


# The version each Windows reports to the setup program. Windows 8.1 and 10 report their own
# version only to a program whose manifest declares them; without that they claim 6.2.
@pytest.mark.parametrize("version, reported", [
    ("win2k", "Windows 5.0 "),
    ("winxp", "Windows 5.1 "),
    ("win2003", "Windows 5.2 "),
    ("vista", "Windows 6.0 "),
    ("win2008", "Windows 6.0 "),
    ("win7", "Windows 6.1 "),
    ("win2008r2", "Windows 6.1 "),
    ("win8", "Windows 6.2 "),
    ("win81", "Windows 6.3 "),
    ("win10", "Windows 10.0 "),
])
def test_every_supported_windows_passes_the_start_checks_and_is_logged(wine_prefix32, version,
                                                                       reported):
    wine_prefix32.set_windows_version(version)
    result = wine_prefix32.run(setup_program(), ["-silent", "-licenseaccept"], env=CHILD_FAILS,
                               timeout=QUICK)
    # Past the start checks: the run reaches the installation, whose child installer is told
    # to fail, so the run ends the same way everywhere.
    assert result.exit_code == -10, result
    line = log_lines(work_log(wine_prefix32))[1]
    assert line.startswith(reported) and line.endswith(" x86"), line


def test_a_failed_unpack_is_reported_as_a_failure_and_keeps_its_log(wine_prefix, tmp_path):
    work = tmp_path / "cwd"
    work.mkdir()
    # A folder where an entry's file should go: the entry cannot be written.
    (work / "readme.txt").mkdir()
    # -silent keeps the error and the log hint off the screen.
    result = wine_prefix.run(setup_program(), ["-unpack", "-silent"], cwd=work, timeout=QUICK)
    assert result.exit_code == -10, result
    lines = log_lines(work_log(wine_prefix))
    assert lines[0] == "=== unpack files process ==="
    assert lines[-2].startswith("Error during installation.\nError code = 0x")
    assert lines[-1] == "=== === ==="
    assert (work / "readme.txt").is_dir()
