"""What an administrator sees of a setup program's start-up: exit codes, the setup log, message
boxes and the files unpack mode writes."""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, win_build_path

EDITIONS = {
    edition: {"display": f"Corvane RDP Edition - {edition.title()}",
              "log": f"corvane-rdp-{edition}-setup.log",
              "banner": f"Corvane RDP Edition - {edition.title()} Version 3.12"}
    for edition in ("workstation", "server")
}
PACK_TOOL = REPOSITORY / "build" / "native" / "tools" / "corvane-pack" / "corvane-pack"
# A run that stops before installing must end quickly and never wait on a window.
QUICK = 60
PACKAGE_DAMAGED = ("Installation package is damaged! Please download the latest version of "
                   "Corvane RDP Edition - Workstation from our web site and try again!")


def setup_program(edition: str = "workstation") -> Path:
    return win_build_path(f"setup/corvane-rdp-{edition}-setup.exe")


def stub_program(edition: str = "workstation") -> Path:
    return win_build_path(f"setup/corvane-rdp-{edition}-stub.exe")


def test_setup_program(edition: str = "workstation") -> Path:
    """The same setup program built with the test hooks (tests/hooks/setup_test_hooks.cpp)."""
    return win_build_path(f"setup/test/corvane-rdp-{edition}-setup.exe")


test_setup_program.__test__ = False  # a helper, not a test


def work_log(prefix, edition: str = "workstation") -> Path:
    """The log in the folder GetTempPath names for the prefix's user (the first choice)."""
    out = prefix.wine("cmd", "/c", "echo %TEMP%").stdout.decode(errors="replace")
    return prefix.host_path(out.strip().splitlines()[-1].strip()) / EDITIONS[edition]["log"]


def log_lines(path: Path) -> list[str]:
    """The log's lines, bar the RunOnce line only a machine without the key gets."""
    data = path.read_bytes()
    assert not data or data.endswith(b"\r\n"), data[-40:]
    lines = data.decode("latin-1").split("\r\n")[:-1]
    return [line for line in lines[:1] if line != "Create 'RunOnce' registry key entry"] + lines[1:]


def package_entries(program: Path) -> dict[str, bytes]:
    """The payload as the package tool extracts it: name -> content."""
    folder = program.parent / (program.name + ".extracted")
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([str(PACK_TOOL), "extract", str(program), "-d", str(folder)], check=True,
                   capture_output=True)
    entries = {p.name: p.read_bytes() for p in folder.iterdir()}
    shutil.rmtree(folder)
    return entries


def fail_at_once(prefix) -> None:
    """Runs a silent installation that fails at its first step (a file has taken the install
    folder's name): past the start checks and the log's first lines."""
    prefix.write_file("C:\\Program Files\\Corvane RDP Edition - Workstation", b"no folder\r\n")
    result = prefix.run(setup_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert result.exit_code == -10, result


def answer_message_box(prefix, program, args, cwd=None, edition="workstation"):
    """Runs a program that ends in the setup's message box; returns the box's text (its static
    control 0xFFFF) once OK is pressed, and the run's result."""
    running = prefix.start(program, args, cwd=cwd, timeout=QUICK)
    try:
        box = prefix.wait_for_window(EDITIONS[edition]["display"], timeout=30)
        assert box.title == EDITIONS[edition]["display"]
        prefix.click(box, 1)
        return box.control(id=0xFFFF).text, running.wait(timeout=QUICK)
    finally:
        running.kill()


# Silent without accepting the licence is refused, whatever else is asked; unpack wins over
# silent, replaces what is there and installs nothing.
COMMAND_LINES = [(["-silent"], -7), (["-SILENT", "-norestart"], -7),
                 (["-silent", "-directory", "C:\\x"], -7), (["-silent", "-unpack"], 0),
                 (["-UnPack"], 0)]


def test_command_line_picks_the_mode_and_exit_code(wine_prefix, tmp_path):
    entries = package_entries(setup_program())
    for number, (arguments, exit_code) in enumerate(COMMAND_LINES):
        work = tmp_path / f"cwd {number}"
        work.mkdir()
        (work / "readme.txt").write_bytes(b"an older readme\r\n")
        (work / "notes.txt").write_bytes(b"the user's own file\r\n")
        result = wine_prefix.run(setup_program(), arguments, cwd=work, timeout=QUICK)
        assert result.exit_code == exit_code, result
        expected = {"readme.txt": b"an older readme\r\n"}
        if "-unpack" in [a.lower() for a in arguments]:
            expected = dict(entries)
        expected["notes.txt"] = b"the user's own file\r\n"
        assert {p.name: p.read_bytes() for p in work.iterdir()} == expected, arguments
    # A successful unpack has no install folder to copy its log into: it is removed.
    assert not work_log(wine_prefix).exists()


# A package that is missing or damaged fails every mode with -8, and with messages allowed says
# why; nothing is written. The log holds only the last run's lines.
@pytest.mark.parametrize("program", ["stub", "damaged"])
def test_a_missing_or_damaged_package_fails_every_mode(wine_prefix, tmp_path, program):
    path = stub_program()
    if program == "damaged":
        path = tmp_path / "corvane-rdp-workstation-setup.exe"
        data = bytearray(setup_program().read_bytes())
        data[-10] ^= 0x01  # inside the last entry's packed data
        path.write_bytes(bytes(data))
    work = tmp_path / "cwd"
    work.mkdir()
    assert wine_prefix.run(setup_program(), ["-silent"], timeout=QUICK).exit_code == -7
    for arguments in (["-silent", "-licenseaccept"], ["-unpack", "-silent"]):
        result = wine_prefix.run(path, arguments, cwd=work, timeout=QUICK)
        assert result.exit_code == -8, result
    assert log_lines(work_log(wine_prefix)) == []
    text, result = answer_message_box(wine_prefix, path, ["-unpack"], cwd=work)
    assert text == PACKAGE_DAMAGED
    assert result.exit_code == -8, result
    assert list(work.iterdir()) == []


@pytest.mark.windows_version("nt40")
def test_windows_nt4_is_refused_with_its_exit_code_and_log_line(wine_prefix):
    result = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert result.exit_code == -5, result
    assert log_lines(work_log(wine_prefix)) == ["Error: System OS version"]
    # Outside silent mode the refusal is shown.
    text, result = answer_message_box(wine_prefix, setup_program(), [])
    assert text == "This program requires Windows 2000 SP4 or newer."
    assert result.exit_code == -5, result


def test_with_im_a_silent_refusal_says_why_in_a_message_box(wine_prefix):
    for edition, display in ((e, EDITIONS[e]["display"]) for e in EDITIONS):
        text, result = answer_message_box(wine_prefix, setup_program(edition),
                                          ["-silent", "-im"], edition=edition)
        assert text.startswith(f"{display} was not installed: a silent installation needs the "
                               "-licenseaccept option"), text
        assert result.exit_code == -7, result


def test_with_the_temp_folder_unwritable_the_log_goes_to_the_windows_temp_folder(wine_prefix):
    # Wine builds a program's TEMP and TMP from the user's registry environment.
    for name in ("TEMP", "TMP"):
        wine_prefix.reg_set("HKCU\\Environment", name, "C:\\no such folder", view=64)
    fail_at_once(wine_prefix)
    log = wine_prefix.host_path("C:\\windows\\Temp") / EDITIONS["workstation"]["log"]
    assert log_lines(log)[0] == EDITIONS["workstation"]["banner"]


# The version each Windows reports to the setup program, on a 32-bit system. Windows 8.1 and 10
# report their own version only to a program whose manifest declares them.
VERSIONS = [("win2k", "5.0"), ("winxp", "5.1"), ("win2003", "5.2"), ("vista", "6.0"),
            ("win2008", "6.0"), ("win7", "6.1"), ("win2008r2", "6.1"), ("win8", "6.2"),
            ("win81", "6.3"), ("win10", "10.0")]


def test_every_supported_windows_passes_the_start_checks_and_is_logged(wine_prefix32):
    log = work_log(wine_prefix32)
    for version, reported in VERSIONS:
        wine_prefix32.set_windows_version(version)
        fail_at_once(wine_prefix32)
        line = log_lines(log)[1]
        assert line.startswith(f"Windows {reported} ") and line.endswith(" x86"), line


def test_a_failed_unpack_is_reported_as_a_failure_and_keeps_its_log(wine_prefix, tmp_path):
    # A folder where an entry's file should go: the entry cannot be written.
    (tmp_path / "readme.txt").mkdir()
    result = wine_prefix.run(setup_program(), ["-unpack", "-silent"], cwd=tmp_path,
                             timeout=QUICK)
    assert result.exit_code == -10, result
    lines = log_lines(work_log(wine_prefix))
    assert lines[0] == "=== unpack files process ==="
    assert lines[-2].startswith("Error during installation.\nError code = 0x")
    assert lines[-1] == "=== === ==="
    assert (tmp_path / "readme.txt").is_dir()
