"""The sample payload under Wine: what the stand-in programs do when started the way the setup
starts the real ones, and what the two setup programs carry."""

from __future__ import annotations

import struct
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, harness_program, win_build_path

PACK_TOOL = REPOSITORY / "build" / "native" / "tools" / "corvane-pack" / "corvane-pack"
INSTALL_FOLDER = "C:\\Program Files\\Corvane RDP Edition - Workstation"
CHILD = "corvane-rdp-workstation-installer.exe"
CITRIX = "corvane-rdp-rde-installer.exe"
RESTART_EVENT = "Global\\{3D7B1F58-9C2A-4E63-8B05-A4E6D2F1C798}"
QUICK = 60


def sample_entry(edition: str, entry: str) -> Path:
    return win_build_path(f"payload/{edition}/{entry}")


def place(prefix, edition: str, entry: str, name: str, folder: str = INSTALL_FOLDER) -> str:
    """Copies a sample payload entry into the prefix under its installed name."""
    path = f"{folder}\\{name}"
    prefix.write_file(path, sample_entry(edition, entry).read_bytes())
    return path


def records(data: bytes) -> list[tuple[int, int, int, int]]:
    """The child's notification records: 16 bytes each, four little-endian 32-bit numbers."""
    assert len(data) % 16 == 0, f"{len(data)} bytes is no whole number of records: {data!r}"
    return [struct.unpack_from("<4I", data, offset) for offset in range(0, len(data), 16)]


def launch(prefix, command_line: str, *, application: str | None = None,
           std_handles: bool = False, event: str | None = None, timeout_ms: int | None = None,
           cwd: str | None = None, env: dict | None = None, timeout: float = QUICK):
    """Starts a program through tests/harness/launch.exe, with exactly this command line."""
    command_line_file = prefix.write_file("C:\\launch-command-line.txt",
                                          command_line.encode("latin-1"))
    args = []
    if application:
        args += ["--application", application]
    if std_handles:
        args.append("--std-handles")
    if event:
        args += ["--event", event]
    if timeout_ms is not None:
        args += ["--timeout", str(timeout_ms)]
    args.append(prefix.windows_path(command_line_file))
    result = prefix.run(harness_program("launch.exe"), args, cwd=cwd, env=env, timeout=timeout)
    assert result.exit_code == 0, result
    report = dict(line.split(": ", 1)[1].split("=", 1) for line in result.stderr.splitlines()
                  if line.startswith("launch: "))
    return result, report


# ------------------------------------------------------------------------------------------
# The child installer


# (environment, expected records, exit code). Progress: (1, goal, phase, restart);
# error: (0, code, location, module).
DEFAULT_RECORDS = [(1, 30, 1, 0), (1, 45, 1, 0), (1, 60, 2, 0), (1, 80, 2, 0)]
CHILD_MODES = {
    "default": ({}, DEFAULT_RECORDS, 0),
    "restart": ({"CORVANE_CHILD_MODE": "restart"},
                [(1, 30, 1, 0), (1, 45, 1, 1), (1, 60, 2, 0), (1, 80, 2, 0)], 0),
    "error with the default values": ({"CORVANE_CHILD_MODE": "error"},
                                      [(1, 30, 1, 0), (0, 5, 0x21, 0x2000)], 0),
    "error with values of the test's": (
        {"CORVANE_CHILD_MODE": "error", "CORVANE_CHILD_ERROR": "5,0x21,0x1000"},
        [(1, 30, 1, 0), (0, 5, 0x21, 0x1000)], 0),
    # Line-feed bytes inside a record: a text-mode write would turn 0x0A into 0x0D 0x0A.
    "error of line-feed bytes": (
        {"CORVANE_CHILD_MODE": "error", "CORVANE_CHILD_ERROR": "0xA,0x0A0A,0xD0A"},
        [(1, 30, 1, 0), (0, 0xA, 0x0A0A, 0xD0A)], 0),
    # Records after an error with code 0 are for a reader that has stopped.
    "error with code 0": ({"CORVANE_CHILD_MODE": "error-code-0"},
                          [(1, 30, 1, 0), (0, 0, 0x21, 0x2000), (1, 60, 2, 0), (1, 80, 2, 0)],
                          0),
    "no report": ({"CORVANE_CHILD_MODE": "no-report"}, [], 0),
    "exit code of its own": ({"CORVANE_CHILD_EXIT_CODE": "7"}, DEFAULT_RECORDS, 7),
    "mistyped mode": ({"CORVANE_CHILD_MODE": "sucess"}, [(0, 87, 2, 0x2000)], 87),
}


@pytest.mark.parametrize("mode", CHILD_MODES)
def test_child_installer_reports_each_mode_in_whole_records(wine_prefix, mode):
    env, expected, exit_code = CHILD_MODES[mode]
    child = place(wine_prefix, "workstation", f"{CHILD}.x86", CHILD)
    result = wine_prefix.run(child, "-std-pipe -log", cwd=INSTALL_FOLDER, env=env, timeout=QUICK)
    assert result.exit_code == exit_code, result
    assert records(result.stdout_bytes) == expected, result
    assert result.duration < 15, result


# The setup's own way: application name apart, a command line that begins with a blank and
# holds no program name, the install folder as current folder, no standard input.
@pytest.mark.parametrize("log_option", ["-log", "-setupapi-log"])
@pytest.mark.parametrize("word_size", ["x86", "amd64"])
def test_child_installer_takes_the_setups_command_line(wine_prefix, word_size, log_option):
    child = place(wine_prefix, "workstation", f"{CHILD}.{word_size}", CHILD)
    result, report = launch(wine_prefix, f" -std-pipe {log_option}", application=child,
                            std_handles=True, cwd=INSTALL_FOLDER,
                            env={"CORVANE_CHILD_MODE": "restart"})
    assert report["ended"] == "1" and report["exit_code"] == "0", result
    assert records(result.stdout_bytes)[1] == (1, 45, 1, 1), result
    lines = result.stderr.splitlines()
    assert f"{CHILD}: command line [ -std-pipe {log_option}]" in lines, result
    assert f"{CHILD}: current folder [{INSTALL_FOLDER}]" in lines, result
    assert f"{CHILD}: standard handles: input none, output file, error file" in lines, result
    assert f"{CHILD}: log option {log_option}" in lines, result
    assert "Installing kernel mode drivers..." in result.stderr
    assert "Installing main program module..." in result.stderr


@pytest.mark.parametrize("command_line, expected, exit_code", [
    ("-std-pipe -log -verbose", [(0, 87, 1, 0x2000)], 87),
    ("-std-pipe", [(0, 87, 1, 0x2000)], 87),
    ("-std-pipe -log -setupapi-log", [(0, 87, 1, 0x2000)], 87),
    # Without the pipe option there is nobody to send records to.
    ("-log", [], 87),
])
def test_child_installer_refuses_other_command_lines(wine_prefix, command_line, expected,
                                                     exit_code):
    child = place(wine_prefix, "server", "corvane-rdp-server-installer.exe.x86",
                  "corvane-rdp-server-installer.exe")
    result = wine_prefix.run(child, command_line, timeout=QUICK)
    assert result.exit_code == exit_code, result
    assert records(result.stdout_bytes) == expected, result
    assert "refused" in result.stderr, result


def test_child_installer_runs_long_with_rising_goals(wine_prefix):
    child = place(wine_prefix, "workstation", f"{CHILD}.x86", CHILD)
    result = wine_prefix.run(child, "-std-pipe -log", cwd=INSTALL_FOLDER, timeout=QUICK,
                             env={"CORVANE_CHILD_MODE": "long", "CORVANE_CHILD_SECONDS": "3"})
    assert result.exit_code == 0, result
    assert records(result.stdout_bytes) == [(1, 20, 1, 0), (1, 52, 1, 0), (1, 85, 2, 0)]
    assert result.duration >= 2.5, result


def test_stand_in_log_shows_where_the_child_ran(wine_prefix):
    """A test of the setup can see the child's command line and folder without reading its
    standard error."""
    child = place(wine_prefix, "workstation", f"{CHILD}.x86", CHILD)
    result = wine_prefix.run(child, "-std-pipe -log", cwd=INSTALL_FOLDER, timeout=QUICK,
                             env={"CORVANE_STAND_IN_LOG": "C:\\stand-in.log"})
    assert result.exit_code == 0, result
    log = wine_prefix.read_file("C:\\stand-in.log").decode("latin-1").split("\r\n")
    assert f"{CHILD}: current folder [{INSTALL_FOLDER}]" in log
    assert f"{CHILD}: finished, exit code 0" in log
    # Nothing but the log is left: a rollback would not know of anything else.
    assert sorted(p.name for p in wine_prefix.host_path(INSTALL_FOLDER).iterdir()) == [CHILD]


# ------------------------------------------------------------------------------------------
# The Citrix-support installer


@pytest.mark.parametrize("mode, argument, timeout_ms, ended, signalled", [
    ("", "RegisterCitrixDllEx", None, "1", "0"),
    ("restart", "UnregisterCitrixDllEx", None, "1", "1"),
    ("long", "RegisterCitrixDllEx", 2000, "0", "0"),
    # Signalled before it was stopped: the setup still sees the restart request.
    ("restart,long", "RegisterCitrixDllEx", 2000, "0", "1"),
])
def test_citrix_support_installer_takes_its_argument_and_signals_the_event(
        wine_prefix, mode, argument, timeout_ms, ended, signalled):
    program = place(wine_prefix, "workstation", f"{CITRIX}.x86", CITRIX)
    # Unquoted, with blanks in the path, as the setup passes it.
    result, report = launch(wine_prefix, f"{program} {argument}", event=RESTART_EVENT,
                            timeout_ms=timeout_ms, timeout=QUICK,
                            env={"CORVANE_CITRIX_MODE": mode, "CORVANE_CITRIX_SECONDS": "30",
                                 "CORVANE_STAND_IN_LOG": "C:\\stand-in.log"})
    assert (report["ended"], report["signalled"]) == (ended, signalled), result
    log = wine_prefix.read_file("C:\\stand-in.log").decode("latin-1").split("\r\n")
    # Wine hands the program its command line with quotes around the path it resolved;
    # Windows hands it over unchanged. The stand-in takes either.
    assert (f"{CITRIX}: command line [{program} {argument}]" in log
            or f'{CITRIX}: command line ["{program}" {argument}]' in log), log
    assert f"{CITRIX}: argument {argument}" in log
    if ended == "1":
        assert report["exit_code"] == "0", result


def test_citrix_support_installer_refuses_another_argument(wine_prefix):
    program = place(wine_prefix, "workstation", f"{CITRIX}.x86", CITRIX)
    result, report = launch(wine_prefix, f"{program} RegisterCitrixDll", event=RESTART_EVENT,
                            env={"CORVANE_CITRIX_MODE": "restart"})
    assert (report["exit_code"], report["signalled"]) == ("87", "0"), result


# ------------------------------------------------------------------------------------------
# The product's programs


PROGRAMS = {
    "workstation": ["corvanews.exe", "corvanewssrv.exe", "hxvwsh.exe",
                    "corvane-rdp-workstation-uninstaller.exe"],
    "server": ["corvanets.exe", "corvanetssrv.exe", "hxvtsh.exe",
               "corvane-rdp-server-uninstaller.exe"],
}


@pytest.mark.parametrize("edition", PROGRAMS)
def test_product_programs_start_end_and_print_usage(wine_prefix, edition):
    for name in PROGRAMS[edition]:
        for word_size in ("x86", "amd64"):
            program = place(wine_prefix, edition, f"{name}.{word_size}", name)
            result = wine_prefix.run(program, ["-help"], timeout=QUICK)
            assert result.exit_code == 0, result
            assert result.stdout.startswith(f"usage: {name} [-help]"), result
        plain = wine_prefix.run(program, [], timeout=QUICK)
        assert plain.exit_code == 0, plain
        refused = wine_prefix.run(program, ["-install"], timeout=QUICK)
        assert refused.exit_code == 2, refused


# ------------------------------------------------------------------------------------------
# What the setup programs carry


def pe_machine(data: bytes) -> int:
    """The machine field of a PE file's header: 0x14C i386, 0x8664 x86-64."""
    assert data[:2] == b"MZ"
    header = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[header:header + 4] == b"PE\0\0"
    return struct.unpack_from("<H", data, header + 4)[0]


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_unpacked_setup_holds_exactly_the_entries_check_payload_expects(wine_prefix, tmp_path,
                                                                        edition):
    work = tmp_path / "unpacked"
    work.mkdir()
    setup = win_build_path(f"setup/corvane-rdp-{edition}-setup.exe")
    result = wine_prefix.run(setup, ["-unpack"], cwd=work, timeout=QUICK)
    assert result.exit_code == 0, result

    check = subprocess.run([str(PACK_TOOL), "check-payload", "--profile", edition, str(work)],
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    # No note: nothing absent (not even a usbd.sys copy) and nothing no rule asks for.
    assert "note:" not in check.stdout, check.stdout

    for path in work.iterdir():
        data = path.read_bytes()
        if path.name.endswith((".x86", ".amd64")) and data[:2] == b"MZ":
            # The word size the entry name promises: a 64-bit file in an ".x86" entry would
            # not start on 32-bit Windows.
            assert pe_machine(data) == (0x14C if path.name.endswith(".x86") else 0x8664), \
                path.name
        elif path.name.split(".")[0] in ("hxvhub", "hxvplug", "hxvhubbus", "usbd"):
            # Every variant of a driver file says which one it is.
            assert data.startswith(path.name.encode() + b":") or \
                data.startswith(b"; " + path.name.encode() + b":"), path.name
