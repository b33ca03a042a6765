"""Authenticode signing of a setup program that carries its package. The release order is:
append the package (corvane-pack create --stub), then sign; the signature then covers the
package, and the certificate table follows it, where the reader never looks. Appending after
signing breaks the signature, and corvane-pack refuses to do it."""

from __future__ import annotations

import hashlib
import os
import re
import subprocess
from pathlib import Path

import pytest

from test_startup import PACK_TOOL
from winehost import REPOSITORY, win_build_path

SAMPLE_PAYLOAD = REPOSITORY / "payload" / "sample"


def corvane_pack(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    return subprocess.run([str(PACK_TOOL), *map(str, args)], capture_output=True, text=True)


def osslsigncode(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", *map(str, args)], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


@pytest.fixture
def signing(tmp_path):
    """sign(unsigned, signed) with a throw-away self-signed code-signing certificate, and
    verifies(path) against it (its own root: a failure can only come from the signature or
    the signed bytes)."""
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

    return sign, lambda path: osslsigncode("verify", "-CAfile", cert, "-in", path)


def package_offset(listing: str) -> int:
    return next(int(line.split()[2]) for line in listing.splitlines()
                if line.strip().startswith("header offset"))


def test_a_signed_setup_program_verifies_loads_its_package_and_covers_it(wine_prefix, tmp_path,
                                                                         signing):
    sign, verifies = signing
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


def test_appending_after_signing_is_refused_and_breaks_the_signature(tmp_path, signing):
    sign, verifies = signing
    signed_probe = tmp_path / "signed-probe.exe"
    sign(win_build_path("tests/windows/package-probe.exe"), signed_probe)
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
