"""What the two setup programs carry: exactly the entries the package tool's check-payload
expects of each edition, each the kind of file its name promises. (The stand-in child
installer's records are what the install tests read back through the engine.)"""

from __future__ import annotations

import struct
import subprocess

import pytest

from test_startup import PACK_TOOL, package_entries
from winehost import win_build_path


# What each setup program carries (unpack mode writes the same: test_startup.py).
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_each_setup_carries_exactly_the_entries_check_payload_expects(tmp_path, edition):
    for name, data in package_entries(win_build_path(
            f"setup/corvane-rdp-{edition}-setup.exe")).items():
        (tmp_path / name).write_bytes(data)
        if name.endswith((".x86", ".amd64")) and data[:2] == b"MZ":
            # The word size the entry name promises: a 64-bit file in an ".x86" entry would
            # not start on 32-bit Windows.
            machine = struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)
            assert machine == ((0x14C,) if name.endswith(".x86") else (0x8664,)), name
        elif name.split(".")[0] in ("hxvhub", "hxvplug", "hxvhubbus", "usbd"):
            # Every variant of a driver file says which one it is.
            assert data.startswith((name.encode() + b":", b"; " + name.encode() + b":")), name
    check = subprocess.run([str(PACK_TOOL), "check-payload", "--profile", edition,
                            str(tmp_path)], capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    # No note: nothing absent (not even a usbd.sys copy) and nothing no rule asks for.
    assert "note:" not in check.stdout, check.stdout
