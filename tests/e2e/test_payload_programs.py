"""The sample payload under Wine: the stand-in child installer's records, on which the install
tests' verdicts rest, and what the two setup programs carry."""

from __future__ import annotations

import struct
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, win_build_path

PACK_TOOL = REPOSITORY / "build" / "native" / "tools" / "corvane-pack" / "corvane-pack"
INSTALL_FOLDER = "C:\\Program Files\\Corvane RDP Edition - Workstation"
CHILD = "corvane-rdp-workstation-installer.exe"
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


# (environment, expected records, exit code). Progress: (1, goal, phase, restart);
# error: (0, code, location, module).
DEFAULT_RECORDS = [(1, 30, 1, 0), (1, 45, 1, 0), (1, 60, 2, 0), (1, 80, 2, 0)]
CHILD_MODES = {
    "default": ({}, DEFAULT_RECORDS, 0),
    "restart": ({"CORVANE_CHILD_MODE": "restart"},
                [(1, 30, 1, 0), (1, 45, 1, 1), (1, 60, 2, 0), (1, 80, 2, 0)], 0),
    "error with the default values": ({"CORVANE_CHILD_MODE": "error"},
                                      [(1, 30, 1, 0), (0, 5, 0x21, 0x2000)], 0),
    # Line-feed bytes inside a record: a text-mode write would turn 0x0A into 0x0D 0x0A.
    "error of line-feed bytes": (
        {"CORVANE_CHILD_MODE": "error", "CORVANE_CHILD_ERROR": "0xA,0x0A0A,0xD0A"},
        [(1, 30, 1, 0), (0, 0xA, 0x0A0A, 0xD0A)], 0),
    # Records after an error with code 0 are for a reader that has stopped.
    "error with code 0": ({"CORVANE_CHILD_MODE": "error-code-0"},
                          [(1, 30, 1, 0), (0, 0, 0x21, 0x2000), (1, 60, 2, 0), (1, 80, 2, 0)],
                          0),
    "no report": ({"CORVANE_CHILD_MODE": "no-report"}, [], 0),
    "mistyped mode": ({"CORVANE_CHILD_MODE": "sucess"}, [(0, 87, 2, 0x2000)], 87),
}


@pytest.mark.parametrize("mode", CHILD_MODES)
def test_child_installer_reports_each_mode_in_whole_records(wine_prefix, mode):
    env, expected, exit_code = CHILD_MODES[mode]
    child = place(wine_prefix, "workstation", f"{CHILD}.x86", CHILD)
    # The driver's INF and its catalog lie beside the child, as the setup leaves them; without
    # them the child cannot publish the driver (Wine says error 122 for a missing catalog).
    place(wine_prefix, "workstation", "hxvhub.inf", "hxvhub.inf")
    place(wine_prefix, "workstation", "hxvhub.cat.v10", "hxvhub.cat")
    result = wine_prefix.run(child, "-std-pipe -log", cwd=INSTALL_FOLDER, env=env, timeout=QUICK)
    assert result.exit_code == exit_code, result
    assert records(result.stdout_bytes) == expected, result
    assert result.duration < 15, result


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
