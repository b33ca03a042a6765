"""corvane-pack.exe, the Windows build of the package tool, under Wine: same bytes as the
native tool, Windows paths, and an earlier output replaced only by a complete new one."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, win_build_path

NATIVE_BUILD = Path(os.environ.get("CORVANE_NATIVE_BUILD", REPOSITORY / "build" / "native"))
SAMPLE_PAYLOAD = REPOSITORY / "payload" / "sample"


@pytest.fixture
def tool() -> Path:
    return win_build_path("tools/corvane-pack/corvane-pack.exe")


def native_pack(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    program = NATIVE_BUILD / "tools" / "corvane-pack" / "corvane-pack"
    if not program.exists():
        pytest.fail(f"{program} is not built; run scripts/build.sh (or set CORVANE_NATIVE_BUILD)")
    return subprocess.run([str(program), *map(str, args)], capture_output=True, text=True)


def test_windows_build_writes_the_same_bytes_and_round_trips(wine_prefix, tool, tmp_path):
    """A package made on Windows from C:\\ paths equals the native one, and extracts back."""
    for name in os.listdir(SAMPLE_PAYLOAD):
        wine_prefix.write_file(f"C:\\payload\\{name}", (SAMPLE_PAYLOAD / name).read_bytes())
    created = wine_prefix.run(tool, ["create", "-o", "C:\\out\\sample.pkg", "--dir",
                                     "C:\\payload"])
    assert created.exit_code == 0, created
    assert native_pack("create", "-o", tmp_path / "native.pkg", "--dir",
                       SAMPLE_PAYLOAD).returncode == 0
    assert wine_prefix.read_file("C:\\out\\sample.pkg") == (tmp_path / "native.pkg").read_bytes()

    verified = wine_prefix.run(tool, ["verify", "C:\\out\\sample.pkg"])
    assert verified.exit_code == 0, verified
    extracted = wine_prefix.run(tool, ["extract", "C:\\out\\sample.pkg", "-d", "C:\\unpacked"])
    assert extracted.exit_code == 0, extracted
    for name in os.listdir(SAMPLE_PAYLOAD):
        assert wine_prefix.read_file(f"C:\\unpacked\\{name}") == (SAMPLE_PAYLOAD / name).read_bytes()


def test_windows_build_replaces_an_earlier_output_only_when_complete(wine_prefix, tool):
    """Windows' rename does not replace an existing file by default; a second run must, and a
    failed run must leave the earlier output and no temporary behind."""
    wine_prefix.write_file("C:\\in\\a.txt", "alpha")
    wine_prefix.write_file("C:\\in\\b.txt", "beta")
    wine_prefix.write_file("C:\\out\\setup.pkg", "earlier build")

    failed = wine_prefix.run(tool, ["create", "-o", "C:\\out\\setup.pkg", "C:\\in\\a.txt",
                                    "C:\\in\\b.txt", "C:\\in\\missing.txt"])
    assert failed.exit_code == 1, failed
    assert "missing.txt" in failed.stderr
    assert wine_prefix.read_file("C:\\out\\setup.pkg") == b"earlier build"
    assert os.listdir(wine_prefix.host_path("C:\\out")) == ["setup.pkg"]

    replaced = wine_prefix.run(tool, ["create", "-o", "C:\\out\\setup.pkg", "C:\\in\\a.txt",
                                      "C:\\in\\b.txt"])
    assert replaced.exit_code == 0, replaced
    assert os.listdir(wine_prefix.host_path("C:\\out")) == ["setup.pkg"]
    listing = wine_prefix.run(tool, ["list", "C:\\out\\setup.pkg"])
    assert listing.exit_code == 0, listing
    assert "a.txt" in listing.stdout and "b.txt" in listing.stdout


def test_windows_build_refuses_a_path_as_entry_name(wine_prefix, tool):
    """On Windows the name is the part after the last backslash; a trailing one leaves none."""
    wine_prefix.write_file("C:\\in\\a.txt", "alpha")
    refused = wine_prefix.run(tool, ["create", "-o", "C:\\out.pkg", "C:\\in\\a.txt", "C:\\in\\"])
    assert refused.exit_code == 1, refused
    assert "is not a plain file name: the name is empty" in refused.stderr
    assert not wine_prefix.exists("C:\\out.pkg")
