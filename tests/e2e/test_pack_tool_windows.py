"""corvane-pack.exe, the Windows build of the package tool, under Wine: the same bytes as the
native tool from Windows paths, an earlier output replaced only by a complete new one, and the
part after the last backslash as an entry's name."""

from __future__ import annotations

import os

from test_pack_signing import SAMPLE_PAYLOAD, corvane_pack
from winehost import win_build_path


def test_the_windows_build_packs_as_the_native_one_and_replaces_only_whole_outputs(
        wine_prefix, tmp_path):
    tool = win_build_path("tools/corvane-pack/corvane-pack.exe")
    for name in os.listdir(SAMPLE_PAYLOAD):
        wine_prefix.write_file(f"C:\\payload\\{name}", (SAMPLE_PAYLOAD / name).read_bytes())
    created = wine_prefix.run(tool, ["create", "-o", "C:\\out\\sample.pkg", "--dir",
                                     "C:\\payload"])
    assert created.exit_code == 0, created
    assert corvane_pack("create", "-o", tmp_path / "native.pkg", "--dir",
                        SAMPLE_PAYLOAD).returncode == 0
    assert wine_prefix.read_file("C:\\out\\sample.pkg") == (tmp_path / "native.pkg").read_bytes()
    assert wine_prefix.run(tool, ["verify", "C:\\out\\sample.pkg"]).exit_code == 0
    extracted = wine_prefix.run(tool, ["extract", "C:\\out\\sample.pkg", "-d", "C:\\unpacked"])
    assert extracted.exit_code == 0, extracted
    for name in os.listdir(SAMPLE_PAYLOAD):
        assert wine_prefix.read_file(f"C:\\unpacked\\{name}") == \
            (SAMPLE_PAYLOAD / name).read_bytes()

    # Windows' rename does not replace an existing file by default: a second run must, and a
    # failed run must leave the earlier output and no temporary file behind.
    wine_prefix.write_file("C:\\in\\a.txt", "alpha")
    wine_prefix.write_file("C:\\in\\b.txt", "beta")
    inputs = ["C:\\in\\a.txt", "C:\\in\\b.txt"]
    failed = wine_prefix.run(tool, ["create", "-o", "C:\\out\\sample.pkg", *inputs,
                                    "C:\\in\\missing.txt"])
    assert failed.exit_code == 1 and "missing.txt" in failed.stderr, failed
    assert wine_prefix.read_file("C:\\out\\sample.pkg") == (tmp_path / "native.pkg").read_bytes()
    assert os.listdir(wine_prefix.host_path("C:\\out")) == ["sample.pkg"]
    replaced = wine_prefix.run(tool, ["create", "-o", "C:\\out\\sample.pkg", *inputs])
    assert replaced.exit_code == 0, replaced
    assert os.listdir(wine_prefix.host_path("C:\\out")) == ["sample.pkg"]
    listing = wine_prefix.run(tool, ["list", "C:\\out\\sample.pkg"])
    assert "a.txt" in listing.stdout and "b.txt" in listing.stdout, listing

    # A trailing backslash leaves no name.
    refused = wine_prefix.run(tool, ["create", "-o", "C:\\out.pkg", "C:\\in\\a.txt", "C:\\in\\"])
    assert refused.exit_code == 1, refused
    assert "is not a plain file name: the name is empty" in refused.stderr
    assert not wine_prefix.exists("C:\\out.pkg")
