"""The package tool's outputs under Windows. corvane-pack.exe, the Windows build of the tool:
the same bytes as the native tool from Windows paths, an earlier output replaced only by a
complete new one, and the part after the last backslash as an entry's name. Authenticode
signing of a setup program that carries its package, in the release order: append the package
(corvane-pack create --stub), then sign; the signature then covers the package, and the
certificate table follows it, where the reader never looks. Appending after signing breaks the
signature, and corvane-pack refuses to do it."""

from __future__ import annotations

import hashlib
import os
import re
import subprocess
from pathlib import Path

from test_startup import PACK_TOOL
from winehost import REPOSITORY, win_build_path

SAMPLE_PAYLOAD = REPOSITORY / "payload" / "sample"


def corvane_pack(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    return subprocess.run([str(PACK_TOOL), *map(str, args)], capture_output=True, text=True)


def osslsigncode(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", *map(str, args)], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def package_offset(listing: str) -> int:
    return next(int(line.split()[2]) for line in listing.splitlines()
                if line.strip().startswith("header offset"))


# Signed with a throw-away self-signed code-signing certificate and verified against it (its
# own root: a failure can only come from the signature or the signed bytes).
def test_a_signed_setup_program_loads_its_package_and_nothing_is_appended_after_signing(
        wine_prefix, tmp_path):
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run([
        "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
        "-days", "2", "-subj", "/CN=Corvane Test Signing", "-addext",
        "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"
    ], check=True, capture_output=True)

    def sign(unsigned: Path, signed: Path) -> None:
        result = osslsigncode("sign", "-certs", cert, "-key", key, "-n", "Corvane setup", "-h",
                              "sha256", "-in", unsigned, "-out", signed)
        assert result.returncode == 0, result.stdout + result.stderr

    def verifies(path: Path) -> subprocess.CompletedProcess:
        return osslsigncode("verify", "-CAfile", cert, "-in", path)

    probe = win_build_path("tests/windows/package-probe.exe")
    unsigned, signed = tmp_path / "unsigned-setup.exe", tmp_path / "setup.exe"
    created = corvane_pack("create", "--stub", probe, "-o", unsigned, "--dir", SAMPLE_PAYLOAD)
    assert created.returncode == 0, created.stderr
    sign(unsigned, signed)
    verified = verifies(signed)
    assert "Signature verification: ok" in verified.stdout, verified.stdout + verified.stderr
    assert corvane_pack("verify", signed).returncode == 0
    listing = corvane_pack("list", signed).stdout
    assert package_offset(listing) == probe.stat().st_size
    assert "certificate table" in listing

    # The probe loads the package of its own file and prints, per entry, the MD5 and size of
    # what the reader unpacked.
    result = wine_prefix.run(signed)
    assert result.exit_code == 0 and "status 0" in result.stdout, result
    for name in sorted(os.listdir(SAMPLE_PAYLOAD)):
        content = (SAMPLE_PAYLOAD / name).read_bytes()
        assert re.search(rf"{hashlib.md5(content).hexdigest()}\s+{len(content)} {re.escape(name)}",
                         result.stdout), result

    # One changed byte inside the package breaks the signature as well as the package.
    image = bytearray(signed.read_bytes())
    image[package_offset(listing) + 100] ^= 0x01
    tampered = tmp_path / "tampered.exe"
    tampered.write_bytes(image)
    assert verifies(tampered).returncode != 0
    verdict = corvane_pack("verify", tampered)
    assert verdict.returncode == 1 and "entries-area digest mismatch" in verdict.stdout

    # Appending to a signed program is refused.
    signed_probe = tmp_path / "signed-probe.exe"
    sign(probe, signed_probe)
    late = tmp_path / "late.exe"
    refused = corvane_pack("create", "--stub", signed_probe, "-o", late, "--dir", SAMPLE_PAYLOAD)
    assert refused.returncode == 1
    assert "is already signed" in refused.stderr
    assert "append the package to the unsigned program, then sign" in refused.stderr
    assert not late.exists()

    # Done by hand, osslsigncode no longer finds a valid signature; the reader still finds the
    # package, and the tool says why the signature is gone.
    package = tmp_path / "package.bin"
    assert corvane_pack("create", "-o", package, "--dir", SAMPLE_PAYLOAD).returncode == 0
    late.write_bytes(signed_probe.read_bytes() + package.read_bytes())
    assert verifies(late).returncode != 0
    verdict = corvane_pack("verify", late)
    assert verdict.returncode == 0 and "appended after signing" in verdict.stdout, verdict.stdout


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
