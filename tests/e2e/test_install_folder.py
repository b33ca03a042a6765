"""The install folder an elevated setup writes programs into and starts them from: made so that
only the system and administrators can change it, refused when standard users can change it
or a folder above it, never written through a planted link, and always a full path. Wine
keeps a folder's access list as its Unix owner and mode bits: a folder open to everyone is one
with mode 0777."""

from __future__ import annotations

import os
import re

from test_silent_install import (INSTALL_TIMEOUT, PRODUCT, ROLLBACK_NOISE, SILENT, UNINSTALL_KEY,
                                 install_folder)
from test_startup import EDITIONS, log_lines, setup_program, work_log

DISPLAY = EDITIONS["workstation"]["display"]
CHANGEABLE = "Error: Users without administrator rights can change: "
NOT_USABLE = "Error: Install folder is not usable: "
LINK_REFUSED = "Error: Not written through a link: "
# What may change access: SYSTEM, Administrators and the owner (the administrator running
# setup); Users may read and execute.
READ_ONLY_RIGHTS = {"0x1200a9", "FRFX", "FR", "FX"}


def strangers_with_write_access(sddl: str) -> list[str]:
    """The allow entries of an SDDL access list that give anyone but SYSTEM, Administrators
    and the owner more than reading and executing."""
    owner = re.match(r"O:([^:()]+?)(?:G:|D:|$)", sddl)
    trusted = {"SY", "BA", owner.group(1) if owner else None}
    entries = re.findall(r"\(([^;]*);([^;]*);([^;]*);[^;]*;[^;]*;([^)]*)\)", sddl)
    return [f"{sid}:{rights}" for kind, _, rights, sid in entries
            if kind == "A" and sid not in trusted and rights not in READ_ONLY_RIGHTS]


def open_to_everyone(prefix, folder: str) -> None:
    path = prefix.host_path("C:\\").joinpath(*folder[3:].split("\\"))
    path.mkdir(parents=True, exist_ok=True)
    path.chmod(0o777)
    assert strangers_with_write_access(prefix.security(folder)), prefix.security(folder)


# The longest folder that is accepted (208 characters are too long), given relative to the
# current folder: installed under its full path, and made so that only the system and
# administrators can change it, inheriting nothing of Program Files, which lets everyone read.
def test_the_install_folder_is_a_full_path_changeable_by_administrators_only(wine_prefix):
    name = "d" * (207 - len("C:\\Program Files\\"))
    result = wine_prefix.run(setup_program(), SILENT + ["-directory", name + "\\"],
                             cwd="C:\\Program Files", timeout=INSTALL_TIMEOUT)
    assert result.exit_code == 0, result
    folder = "C:\\Program Files\\" + name
    values = wine_prefix.reg_values(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)
    assert values["InstallLocation"].data == folder
    assert values["UninstallString"].data == folder + "\\corvane-rdp-workstation-uninstaller.exe"
    lines = log_lines(wine_prefix.host_path(folder) / EDITIONS["workstation"]["log"])
    assert f"CreateDirectory: {folder}" in lines
    made = wine_prefix.security(folder)
    assert strangers_with_write_access(made) == [], made
    assert "(A;OICI;0x1200a9;;;WD)" in wine_prefix.security("C:\\Program Files")
    assert ";WD)" not in made, made
    assert strangers_with_write_access(wine_prefix.security(folder + "\\amd64")) == []


# Every case in one prefix: none may write anything, so one snapshot before them all must
# still match after the last.
REFUSED = [  # (-directory, the log's last line)
    ("C:\\Tools\\Corvane", CHANGEABLE + "C:\\Tools"),  # a parent open to everyone
    ("C:\\Shared\\Corvane", CHANGEABLE + "C:\\Shared\\Corvane"),  # the folder itself open
    ("C:\\" + "d" * (207 - 2), NOT_USABLE + "C:\\" + "d" * (207 - 2)),  # too long (limit 207)
    ("C:\\", NOT_USABLE + "C:\\"),  # a drive's root
    ("C:\\Tools|Corvane", NOT_USABLE + "C:\\Tools|Corvane"),  # a character Windows refuses
]


# Last, an earlier installation's folder (safe in itself) where someone planted a folder link
# that leads elsewhere: nothing is written through it; the installation fails and is rolled
# back. (A planted hard link: InstallerFilesTest.NeverWritesThroughAHardLink.)
def test_an_install_folder_setup_cannot_trust_is_refused_before_anything_is_written(
        wine_prefix):
    open_to_everyone(wine_prefix, "C:\\Tools")
    open_to_everyone(wine_prefix, "C:\\Shared\\Corvane")
    host_folder = wine_prefix.host_path("C:\\Program Files").joinpath(DISPLAY)
    host_folder.mkdir()
    victim = wine_prefix.host_path("C:\\").joinpath("victim")
    victim.mkdir()
    os.symlink(victim, host_folder / "amd64")
    before = wine_prefix.snapshot()

    for folder, line in REFUSED:
        result = wine_prefix.run(setup_program(), SILENT + ["-directory", folder],
                                 timeout=INSTALL_TIMEOUT)
        assert result.exit_code == -11, (folder, result)
        lines = log_lines(work_log(wine_prefix, "workstation"))
        assert lines[-1] == line, "\n".join(lines)
    result = wine_prefix.run(setup_program(), SILENT, timeout=INSTALL_TIMEOUT)
    assert result.exit_code == -10, result
    lines = log_lines(work_log(wine_prefix, "workstation"))
    assert LINK_REFUSED + install_folder("workstation") + "\\amd64" in lines, "\n".join(lines)
    assert list(victim.iterdir()) == []
    assert not (diff := wine_prefix.snapshot().diff(before, ignore=ROLLBACK_NOISE)), diff
