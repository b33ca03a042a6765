"""The end-to-end harness itself: if one of these fails, no other end-to-end result can be
trusted (a lost exit code, a wrong Windows version, a prefix shared between tests)."""

from __future__ import annotations

import os
import subprocess
import time
from pathlib import Path

import pytest

from winehost import WINE_PREFIX_TOOL, Prefix, harness_program, unique_prefix_path

EXITWITH = "exitwith.exe"
EXITWITH_GUI = "exitwith-gui.exe"


def test_exit_codes_reach_the_test_as_signed_32_bit_values(wine_prefix):
    # (code given, code expected): a shell would see 246, 0, 0 and 1 for the last four.
    table = [(0, 0), (1, 1), (-10, -10), (4294967286, -10), (256, 256), (0x80000000, -2**31),
             (0xC0000005, -1073741819), (2**31 - 1, 2**31 - 1)]
    for given, expected in table:
        result = wine_prefix.run(harness_program(EXITWITH_GUI), [str(given)])
        assert (result.exit_code, result.timed_out) == (expected, False), f"{given}: {result}"


def test_timeout_ends_a_hanging_program(wine_prefix):
    started = time.monotonic()
    result = wine_prefix.run(harness_program(EXITWITH), ["--sleep", "600000", "0"], timeout=3)
    assert result.timed_out and result.exit_code is None
    assert time.monotonic() - started < 30
    # The prefix is usable afterwards.
    assert wine_prefix.run(harness_program(EXITWITH), ["7"]).exit_code == 7


def test_raw_command_line_is_passed_byte_for_byte(wine_prefix):
    # Setup programs parse their own command line; a quote in the middle of an argument must
    # reach them as typed.
    tail = '/q /log:"C:\\my logs\\setup.log"  /x'
    result = wine_prefix.run(harness_program(EXITWITH), f"--args {tail} 0")
    cmdline = next(line for line in result.stdout.splitlines() if line.startswith("cmdline="))
    assert cmdline.endswith(f"exitwith.exe\" --args {tail} 0")


# What a 32-bit program sees on each kind of prefix.
ARCHITECTURES = {
    "win64": {"wow64": "1", "native_architecture": "9", "env.ProgramFiles":
              "C:\\Program Files (x86)", "env.ProgramW6432": "C:\\Program Files",
              "wow64_directory": "C:\\windows\\syswow64", "system_directory":
              "C:\\windows\\system32"},
    "win32": {"wow64": "0", "native_architecture": "0", "env.ProgramFiles": "C:\\Program Files",
              "env.ProgramW6432": "", "wow64_directory": "", "wow64_directory_error": "120",
              "system_directory": "C:\\windows\\system32"},
}


@pytest.mark.parametrize("wine_prefix", ["win64", "win32"], indirect=True)
def test_prefix_architecture_as_a_32_bit_program_sees_it(wine_prefix):
    info = wine_prefix.osinfo()
    expected = ARCHITECTURES[wine_prefix.arch]
    assert {key: info.get(key, "").rstrip("\\") for key in expected} == expected
    assert info["env.ProgramFiles"] == wine_prefix.program_files_32
    cmd = wine_prefix.wine("cmd", "/c", "echo", "%ProgramFiles(x86)%")
    # 64-bit cmd.exe on a 64-bit prefix knows the variable; on a 32-bit one it stays unexpanded.
    assert cmd.stdout.decode().strip() == {"win64": "C:\\Program Files (x86)",
                                           "win32": "%ProgramFiles(x86)%"}[wine_prefix.arch]


# (version, GetVersionEx major.minor without a manifest, RtlGetVersion major.minor,
#  product type: 1 workstation, 3 server). Switching back and forth between workstation and
# server versions in one prefix is part of the test.
VERSIONS = [
    ("winxp", "5.1", "5.1", "1"),
    ("win2003", "5.2", "5.2", "3"),
    ("win7", "6.1", "6.1", "1"),
    ("win2008", "6.0", "6.0", "3"),
    ("win10", "6.2", "10.0", "1"),
    ("win2008r2", "6.1", "6.1", "3"),
    ("win7", "6.1", "6.1", "1"),
]


@pytest.mark.parametrize("wine_prefix", ["win64", "win32"], indirect=True)
def test_windows_version_is_what_programs_report(wine_prefix):
    for version, get_version_ex, rtl_version, product_type in VERSIONS:
        wine_prefix.set_windows_version(version)
        # A fresh program, not the check inside set_windows_version, has the last word.
        info = wine_prefix.osinfo()
        seen = (f"{info['version.major']}.{info['version.minor']}",
                f"{info['rtl.major']}.{info['rtl.minor']}", info["version.product_type"])
        assert seen == (get_version_ex, rtl_version, product_type), version


REGISTRY_VALUES = [
    ("text", "REG_SZ", "ünïcødé text"),
    ("path", "REG_EXPAND_SZ", "%ProgramFiles%\\Corvane"),
    ("number", "REG_DWORD", 0xFFFFFFF6),
    ("big", "REG_QWORD", 2**40 + 5),
    ("list", "REG_MULTI_SZ", ["one", "two words", "three"]),
    ("blob", "REG_BINARY", bytes(range(256))),
    ("", "REG_SZ", "the default value"),
]


@pytest.mark.parametrize("wine_prefix", ["win64", "win32"], indirect=True)
def test_registry_values_round_trip(wine_prefix):
    key = "HKCU\\Software\\Corvane Harness\\Values"
    for name, type_name, data in REGISTRY_VALUES:
        wine_prefix.reg_set(key, name, data, type_name, view=32)
    values = wine_prefix.reg_values(key, view=32)
    for name, type_name, data in REGISTRY_VALUES:
        value = wine_prefix.reg_query(key, name, view=32)
        assert (value.type, value.data) == (type_name, data), name
        assert values[name] == value
    assert wine_prefix.reg_query(key, "missing", view=32) is None
    assert wine_prefix.reg_query(key + "\\Missing", "text", view=32) is None


def test_registry_views_on_a_64_bit_prefix(wine_prefix):
    # A 32-bit program writing HKLM\Software lands in Wow6432Node, as the engine will.
    result = wine_prefix.run(harness_program("regtool.exe"),
                             ["set", "HKLM\\Software\\Corvane Harness", "written", "4",
                              "01000000"])
    assert result.exit_code == 0, result
    assert wine_prefix.reg_query("HKLM\\Software\\Corvane Harness", "written",
                                 view=32).data == 1
    assert wine_prefix.reg_query("HKLM\\Software\\Wow6432Node\\Corvane Harness", "written",
                                 view=64).data == 1
    assert not wine_prefix.reg_exists("HKLM\\Software\\Corvane Harness", view=64)
    assert wine_prefix.reg_delete_key("HKLM\\Software\\Corvane Harness", view=32)
    assert not wine_prefix.reg_exists("HKLM\\Software\\Wow6432Node\\Corvane Harness", view=64)


def test_snapshot_shows_exactly_what_a_program_changed(wine_prefix):
    before = wine_prefix.snapshot()
    wine_prefix.run(harness_program(EXITWITH), ["0"])
    wine_prefix.osinfo()
    assert not wine_prefix.snapshot().diff(before), "running programs alone changed the prefix"

    wine_prefix.reg_set("HKLM\\Software\\Corvane Harness\\Deep\\Deeper", "v", "1", view=32)
    wine_prefix.reg_set("HKCU\\Software\\Wine", "Version", "winxp", view=32)
    wine_prefix.write_file("C:\\Program Files (x86)\\Corvane\\a.txt", "x")
    (wine_prefix.drive_c / "windows" / "system32" / "notepad.exe").unlink()
    hosts = "C:\\windows\\system32\\drivers\\etc\\hosts"
    wine_prefix.run(harness_program(EXITWITH), ["--write", hosts, "127.0.0.1 changed", "0"])
    diff = wine_prefix.snapshot().diff(before)
    assert diff.files_changed == [hosts]
    assert diff.files_added == ["C:\\Program Files (x86)\\Corvane",
                                "C:\\Program Files (x86)\\Corvane\\a.txt"]
    assert diff.files_removed == ["C:\\windows\\system32\\notepad.exe"]
    assert diff.keys_added == ["HKLM\\Software\\Wow6432Node\\Corvane Harness",
                               "HKLM\\Software\\Wow6432Node\\Corvane Harness\\Deep",
                               "HKLM\\Software\\Wow6432Node\\Corvane Harness\\Deep\\Deeper"]
    assert diff.values_changed == [("HKCU\\Software\\Wine", "version", None, '"winxp"')]

    # Undoing the changes gives an empty diff again, except what was ignored on purpose.
    wine_prefix.reg_delete_key("HKLM\\Software\\Corvane Harness", view=32)
    wine_prefix.reg_delete_value("HKCU\\Software\\Wine", "Version", view=32)
    after = wine_prefix.snapshot()
    assert not after.diff(before, ignore=[r"^c:\\program files \(x86\)\\corvane",
                                          r"notepad\.exe$", r"\\hosts$"])


def test_writes_do_not_leak_into_the_pristine_prefix_or_other_copies(wine_prefix, display):
    other = Prefix.create(unique_prefix_path("isolation-other"), "win64", display)
    try:
        # Files a setup typically writes: its own folder, the system folders (hard-linked to
        # the pristine prefix; a 32-bit program's system32 is syswow64), in place over an
        # existing writable file, the desktop (a link to the Linux home in a fresh Wine
        # prefix), and a registry key.
        writes = {  # where the program writes: (where it lands, content)
            "C:\\Program Files (x86)\\Corvane\\leak.txt":
                ("C:\\Program Files (x86)\\Corvane\\leak.txt", "leak"),
            "C:\\windows\\system32\\corvane-leak.dll":
                ("C:\\windows\\syswow64\\corvane-leak.dll", "leak"),
            "C:\\windows\\system32\\drivers\\etc\\hosts":
                ("C:\\windows\\system32\\drivers\\etc\\hosts", "127.0.0.1 leaked"),
            "C:\\users\\root\\Desktop\\corvane-leak.lnk":
                ("C:\\users\\root\\Desktop\\corvane-leak.lnk", "leak"),
            "C:\\windows\\win.ini": ("C:\\windows\\win.ini", "[leak]"),
        }
        for path, (landed, text) in writes.items():
            folder = path.rsplit("\\", 1)[0]
            result = wine_prefix.run(harness_program(EXITWITH),
                                     ["--mkdir", folder, "--write", path, text, "0"])
            assert result.exit_code == 0, f"{path}: {result}"
            assert wine_prefix.read_text(landed) == text
        wine_prefix.write_file("C:\\windows\\system32\\corvane-leak64.dll", "leak")
        writes["64-bit system32"] = ("C:\\windows\\system32\\corvane-leak64.dll", "leak")
        wine_prefix.reg_set("HKLM\\Software\\Corvane Leak", "v", "leak", view=64)
        wine_prefix.reg_set("HKCU\\Software\\Corvane Leak", "v", "leak", view=64)
        # A deleted system file must stay in the others.
        (wine_prefix.drive_c / "windows" / "system32" / "user32.dll").unlink()
        wine_prefix.kill()  # writes the registry to disk

        pristine = Path(subprocess.run([str(WINE_PREFIX_TOOL), "pristine"], capture_output=True,
                                       text=True, check=True).stdout.strip())
        home = Path(os.path.expanduser("~"))
        assert not (home / "corvane-leak.lnk").exists()
        for prefix_path in (pristine, other.path):
            view = Prefix(prefix_path, "win64")
            for path, (landed, text) in writes.items():
                host = view.host_path(landed)
                assert not host.exists() or host.read_text(errors="replace") != text, \
                    f"{path} leaked into {prefix_path}"
            assert (prefix_path / "drive_c" / "windows" / "system32" / "user32.dll").exists()
            for hive in ("system.reg", "user.reg"):
                assert "Corvane Leak" not in (prefix_path / hive).read_text(errors="replace")
        assert not other.reg_exists("HKLM\\Software\\Corvane Leak", view=64)
        assert not other.reg_exists("HKCU\\Software\\Corvane Leak", view=64)
    finally:
        other.destroy()


def test_pristine_check_notices_a_file_written_in_place(tmp_path):
    # Overwriting a hard-linked system file in place would change every prefix: the check
    # after each test must notice. A fake pristine prefix keeps this fast and harmless.
    pristine = tmp_path / "pristine-win64"
    (pristine / "drive_c" / "windows" / "system32").mkdir(parents=True)
    dll = pristine / "drive_c" / "windows" / "system32" / "user32.dll"
    dll.write_bytes(b"MZ original")
    (pristine / ".corvane-pristine").write_text("stamp")
    old = time.time() - 100
    os.utime(dll, (old, old))
    environment = {**os.environ, "CORVANE_WINE_ROOT": str(tmp_path)}
    check = [str(WINE_PREFIX_TOOL), "check", "--arch", "win64"]
    assert subprocess.run(check, env=environment).returncode == 0
    with open(dll, "r+b") as file:
        file.write(b"MZ changed")
    result = subprocess.run(check, env=environment, capture_output=True, text=True)
    assert result.returncode == 1
    assert "user32.dll" in result.stderr


def test_dialogs_can_be_read_and_driven_like_a_person_would(wine_prefix, tmp_path):
    running = wine_prefix.start(harness_program(EXITWITH_GUI),
                                ["--messagebox", "Install Corvane now?", "0"], timeout=60)
    try:
        window = wine_prefix.wait_for_window("exitwith", timeout=30)
        assert "Install Corvane now?" in window.texts
        assert window in wine_prefix.windows()
        shot = wine_prefix.screenshot(tmp_path / "dialog.png")
        assert shot.stat().st_size > 1000
        wine_prefix.click(window, window.control("Cancel").id)
        result = running.wait()
    finally:
        if running.process.poll() is None:
            running.kill()
    assert (result.exit_code, result.stdout) == (0, "messagebox=2\n")  # IDCANCEL
