"""Authenticode signing of a setup program that carries its package.

The release engineer's order is: append the package (corvane-pack create --stub), then sign.
The signature then covers the package and the certificate table follows it, where the reader
never looks. Appending after signing breaks the signature, and corvane-pack refuses to do it.
"""

from __future__ import annotations

import hashlib
import os
import re
import subprocess
from pathlib import Path

import pytest

from winehost import REPOSITORY, win_build_path

NATIVE_BUILD = Path(os.environ.get("CORVANE_NATIVE_BUILD", REPOSITORY / "build" / "native"))
SAMPLE_PAYLOAD = REPOSITORY / "payload" / "sample"
PROBE = "tests/windows/package-probe.exe"


def corvane_pack(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    program = NATIVE_BUILD / "tools" / "corvane-pack" / "corvane-pack"
    if not program.exists():
        pytest.fail(f"{program} is not built; run scripts/build.sh (or set CORVANE_NATIVE_BUILD)")
    return subprocess.run([str(program), *map(str, args)], capture_output=True, text=True)


def osslsigncode(*args: str | os.PathLike) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", *map(str, args)], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


@pytest.fixture(scope="module")
def signing_key(tmp_path_factory) -> tuple[Path, Path]:
    """A throw-away self-signed code-signing certificate and its key."""
    folder = tmp_path_factory.mktemp("signing")
    cert, key = folder / "cert.pem", folder / "key.pem"
    subprocess.run([
        "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
        "-days", "2", "-subj", "/CN=Corvane Test Signing", "-addext",
        "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"
    ], check=True, capture_output=True)
    return cert, key


def sign(unsigned: Path, signed: Path, signing_key: tuple[Path, Path]) -> None:
    cert, key = signing_key
    result = osslsigncode("sign", "-certs", cert, "-key", key, "-n", "Corvane setup", "-h",
                          "sha256", "-in", unsigned, "-out", signed)
    assert result.returncode == 0, result.stdout + result.stderr


def signature_verifies(path: Path, signing_key: tuple[Path, Path]) -> subprocess.CompletedProcess:
    # The certificate is its own root: -CAfile makes it the trusted one, so a failure can only
    # come from the signature or the signed bytes.
    return osslsigncode("verify", "-CAfile", signing_key[0], "-in", path)


def package_offset(listing: str) -> int:
    for line in listing.splitlines():
        if line.strip().startswith("header offset"):
            return int(line.split()[2])
    raise AssertionError(f"no header offset in:\n{listing}")


@pytest.fixture
def probe() -> Path:
    return win_build_path(PROBE)


@pytest.fixture
def signed_setup(tmp_path, probe, signing_key) -> Path:
    unsigned = tmp_path / "unsigned-setup.exe"
    created = corvane_pack("create", "--stub", probe, "-o", unsigned, "--dir", SAMPLE_PAYLOAD)
    assert created.returncode == 0, created.stderr
    signed = tmp_path / "setup.exe"
    sign(unsigned, signed, signing_key)
    return signed


def test_signed_setup_program_verifies_and_still_loads_its_package(wine_prefix, probe,
                                                                   signed_setup, signing_key):
    """Appended, then signed: the signature holds, the package verifies, and the program finds
    its package under Wine."""
    verified = signature_verifies(signed_setup, signing_key)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    assert "Signature verification: ok" in verified.stdout

    assert corvane_pack("verify", signed_setup).returncode == 0
    listing = corvane_pack("list", signed_setup)
    assert listing.returncode == 0, listing.stderr
    assert package_offset(listing.stdout) == probe.stat().st_size
    assert "certificate table" in listing.stdout

    # The probe loads the package of its own file and prints, per entry, the MD5 and size of
    # what the reader unpacked.
    result = wine_prefix.run(signed_setup)
    assert result.exit_code == 0, result
    assert "status 0" in result.stdout, result
    for name in sorted(os.listdir(SAMPLE_PAYLOAD)):
        content = (SAMPLE_PAYLOAD / name).read_bytes()
        assert re.search(rf"{hashlib.md5(content).hexdigest()}\s+{len(content)} {re.escape(name)}",
                         result.stdout), result


def test_signature_covers_the_package(tmp_path, signed_setup, signing_key):
    """One changed byte inside the package breaks the signature as well as the package."""
    listing = corvane_pack("list", signed_setup).stdout
    image = bytearray(signed_setup.read_bytes())
    image[package_offset(listing) + 100] ^= 0x01
    tampered = tmp_path / "tampered.exe"
    tampered.write_bytes(image)

    assert signature_verifies(tampered, signing_key).returncode != 0
    verdict = corvane_pack("verify", tampered)
    assert verdict.returncode == 1
    assert "entries-area digest mismatch" in verdict.stdout


def test_appending_after_signing_breaks_the_signature(tmp_path, probe, signing_key):
    """The wrong order: sign the program, then append. corvane-pack refuses it; done by hand,
    osslsigncode no longer finds a valid signature."""
    signed_probe = tmp_path / "signed-probe.exe"
    sign(probe, signed_probe, signing_key)
    assert signature_verifies(signed_probe, signing_key).returncode == 0

    refused = corvane_pack("create", "--stub", signed_probe, "-o", tmp_path / "late.exe",
                           "--dir", SAMPLE_PAYLOAD)
    assert refused.returncode == 1
    assert "is already signed" in refused.stderr
    assert "append the package to the unsigned program, then sign" in refused.stderr
    assert not (tmp_path / "late.exe").exists()

    package = tmp_path / "package.bin"
    assert corvane_pack("create", "-o", package, "--dir", SAMPLE_PAYLOAD).returncode == 0
    late = tmp_path / "late.exe"
    late.write_bytes(signed_probe.read_bytes() + package.read_bytes())

    assert signature_verifies(late, signing_key).returncode != 0
    verdict = corvane_pack("verify", late)
    # The reader still finds the package; the tool says why the signature is gone.
    assert verdict.returncode == 0, verdict.stdout
    assert "appended after signing" in verdict.stdout
