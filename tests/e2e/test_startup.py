"""What an administrator sees of a setup program's start-up: exit codes, the setup log, message
boxes, the files unpack mode writes, the package each setup carries, and that a DLL planted
beside it is never loaded."""

from __future__ import annotations

import hashlib
import shutil
import struct
import subprocess
import time
import zlib
from pathlib import Path

import pytest

from winehost import REPOSITORY, harness_program, win_build_path

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


def answer_message_box(prefix, program, args, cwd=None, edition="workstation"):
    """Runs a program that ends in the setup's message box; returns the box's text (its static
    control 0xFFFF) once OK is pressed, and the run's result."""
    running = prefix.start(program, args, cwd=cwd, timeout=QUICK)
    box = prefix.wait_for_window(EDITIONS[edition]["display"], exact=True)
    prefix.press(box, 1)
    return box.control(id=0xFFFF).text, running.wait(timeout=QUICK)


# Silent without accepting the licence is refused, whatever else is asked, and with -im says
# why in a message box; unpack wins over silent, replaces what is there and installs nothing. A
# package may name any place: unpack writes only plain names, into the current folder. An
# unpack that cannot write an entry is reported as a failure and keeps its log.
COMMAND_LINES = [(["-silent"], -7), (["-SILENT", "-norestart"], -7),
                 (["-silent", "-directory", "C:\\x"], -7), (["-silent", "-unpack"], 0),
                 (["-UnPack"], 0), ("unsafe names", ["-unpack", "-silent"], 0)]
UNSAFE_NAMES = {"..\\climbed.txt": b"up\r\n", "C:\\rooted.txt": b"root\r\n",
                "readme.txt": b"plain\r\n"}


def test_command_line_picks_the_mode_and_exit_code(wine_prefix, tmp_path):
    entries = package_entries(setup_program())
    # The stub with a package put together here, for names the package tool refuses.
    area = b"".join(struct.pack("<II", len(packed := zlib.compress(data, 9)), len(name))
                    + hashlib.md5(data).digest() + name.encode() + packed
                    for name, data in UNSAFE_NAMES.items())
    signature = b"Marrowfend LLC installer system" + bytes([0x5A])
    unsafe = tmp_path / "setup.exe"
    unsafe.write_bytes(stub_program().read_bytes() + signature + bytes(b ^ 0x5A for b in signature)
                       + struct.pack("<II", len(area), len(UNSAFE_NAMES))
                       + hashlib.md5(area).digest() + area)
    for number, (*package, arguments, exit_code) in enumerate(COMMAND_LINES):
        work = tmp_path / f"cwd {number}"
        work.mkdir()
        (work / "readme.txt").write_bytes(b"an older readme\r\n")
        (work / "notes.txt").write_bytes(b"the user's own file\r\n")
        result = wine_prefix.run(unsafe if package else setup_program(), arguments, cwd=work,
                                 timeout=QUICK)
        assert result.exit_code == exit_code, result
        expected = {"readme.txt": b"an older readme\r\n"}
        if "-unpack" in [a.lower() for a in arguments]:
            expected = {"readme.txt": b"plain\r\n"} if package else dict(entries)
        expected["notes.txt"] = b"the user's own file\r\n"
        assert {p.name: p.read_bytes() for p in work.iterdir()} == expected, arguments
    assert not (tmp_path / "climbed.txt").exists() and not wine_prefix.exists("C:\\rooted.txt")
    # A successful unpack has no install folder to copy its log into: it is removed.
    assert not work_log(wine_prefix).exists()

    for edition, display in ((e, EDITIONS[e]["display"]) for e in EDITIONS):
        text, result = answer_message_box(wine_prefix, setup_program(edition),
                                          ["-silent", "-im"], edition=edition)
        assert text.startswith(f"{display} was not installed: a silent installation needs the "
                               "-licenseaccept option"), text
        assert result.exit_code == -7, result

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


def test_windows_nt4_is_refused_with_its_exit_code_and_log_line(wine_prefix):
    wine_prefix.set_windows_version("nt40")
    result = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
    assert result.exit_code == -5, result
    assert log_lines(work_log(wine_prefix)) == ["Error: System OS version"]
    # Outside silent mode the refusal is shown.
    text, result = answer_message_box(wine_prefix, setup_program(), [])
    assert text == "This program requires Windows 2000 SP4 or newer."
    assert result.exit_code == -5, result


# The version each Windows reports to the setup program, on a 32-bit system. Windows 8.1 and 10
# report their own version only to a program whose manifest declares them. Each run fails at
# its first step (a file has taken the install folder's name), past the start checks and the
# log's first lines. The temp folder cannot be written: the log goes to the Windows temp folder.
VERSIONS = [("win2k", "5.0"), ("winxp", "5.1"), ("win2003", "5.2"), ("vista", "6.0"),
            ("win2008", "6.0"), ("win7", "6.1"), ("win2008r2", "6.1"), ("win8", "6.2"),
            ("win81", "6.3"), ("win10", "10.0")]


def test_every_supported_windows_passes_the_start_checks_and_is_logged(wine_prefix32):
    # Wine builds a program's TEMP and TMP from the user's registry environment.
    for name in ("TEMP", "TMP"):
        wine_prefix32.reg_set("HKCU\\Environment", name, "C:\\no such folder", view=32)
    log = wine_prefix32.host_path("C:\\windows\\Temp") / EDITIONS["workstation"]["log"]
    wine_prefix32.write_file("C:\\Program Files\\Corvane RDP Edition - Workstation", b"no\r\n")
    for version, reported in VERSIONS:
        wine_prefix32.set_windows_version(version)
        result = wine_prefix32.run(setup_program(), ["-silent", "-licenseaccept"], timeout=QUICK)
        assert result.exit_code == -10, result
        banner, line = log_lines(log)[:2]
        assert banner == EDITIONS["workstation"]["banner"]
        assert line.startswith(f"Windows {reported} ") and line.endswith(" x86"), line


# What each setup program carries (unpack mode writes the same): exactly the entries the
# package tool's check-payload expects of each edition, each the kind of file its name promises.
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_each_setup_carries_exactly_the_entries_check_payload_expects(tmp_path, edition):
    for name, data in package_entries(setup_program(edition)).items():
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
    if edition == "workstation":
        # One entry gone, one in another letter case, one no rule asks for and a subfolder:
        # each is named, with the systems that need what is missing.
        (tmp_path / "hxvhub.sys.x86.xp").unlink()
        (tmp_path / "hxvhub.inf.v10").rename(tmp_path / "HXVHUB.INF.v10")
        (tmp_path / "usbd.sys.x86.xp").write_bytes(b"usbd")
        (tmp_path / "amd64").mkdir()
        check = subprocess.run([str(PACK_TOOL), "check-payload", "--profile", edition,
                                str(tmp_path)], capture_output=True, text=True)
        assert check.returncode == 1, check.stdout
        for line in ("missing: hxvhub.sys.x86.xp (needed on 32-bit Windows 2000 to Server 2003)\n",
                     "missing: hxvhub.inf.v10 (needed on every Windows 10 and later); the folder "
                     "has HXVHUB.INF.v10, which differs in letter case",
                     "note: usbd.sys.x86.xp is not asked for",
                     "note: the subfolder amd64 is not part of the payload",
                     "INCOMPLETE: 2 entries missing"):
            assert line in check.stdout, check.stdout


# A setup program runs elevated, often from a downloads folder: a DLL planted there or in the
# current folder under the name of a system DLL it loads (riched32.dll) must never be loaded.
# A canary DLL stands in for the planted one; it writes a marker file when it is loaded.
def test_a_dll_planted_beside_the_setup_or_in_the_current_folder_is_not_loaded(wine_prefix,
                                                                                tmp_path):
    downloads, current = tmp_path / "Downloads", tmp_path / "current"
    for folder in (downloads, current):
        folder.mkdir()
        shutil.copy(harness_program("corvane_canary.dll"), folder / "riched32.dll")
    marker = tmp_path / "canary-loaded.txt"
    # Without a native-first override Wine would use its built-in DLL whatever lies beside the
    # program, and the test would pass however the program loads it.
    env = {"WINEDLLOVERRIDES": "riched32=n,b",
           "CORVANE_CANARY_MARKER": wine_prefix.windows_path(marker)}
    # The control case: a program that loads the DLL the unsafe way does pick up the canary.
    probe = downloads / "dll-probe.exe"
    shutil.copy(win_build_path("tests/windows/framework_dll_probe.exe"), probe)
    result = wine_prefix.run(probe, ["plain", "Riched32.dll"], cwd=downloads, env=env)
    assert marker.exists(), result
    marker.unlink()

    for edition in EDITIONS:
        setup = downloads / f"corvane-rdp-{edition}-setup.exe"
        shutil.copy(setup_program(edition), setup)
        # The wizard loads the rich-edit library, shows its first page and waits for the user.
        running = wine_prefix.start(setup, [], cwd=current, timeout=60, env=env)
        time.sleep(8)
        running.kill()
        assert not marker.exists(), marker.read_text(errors="replace")
