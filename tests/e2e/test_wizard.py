"""The wizard as a person uses it: the real setup program started without options, its pages
clicked through under the test's X server, the product installed (or not) as the pages said."""

from __future__ import annotations

import time

import pytest

from winehost import Prefix, Window, win_build_path

DISPLAY_NAME = "Corvane RDP Edition - Workstation"
TITLE = f"Setup - {DISPLAY_NAME}"
# On 64-bit Windows the product goes to the 64-bit Program Files folder.
INSTALL_FOLDER = f"C:\\Program Files\\{DISPLAY_NAME}"
UNINSTALL_KEY = ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}")
NEXT, CANCEL, BACK = 1, 2, 1000
ACCEPT_LICENCE = 1008
LICENCE_TEXT = 1007
SUMMARY = 1026
LAUNCH, QUICK_START = 1030, 1033
FINISH_TITLE = 1001


def page_with(prefix: Prefix, control_id: int, timeout: float = 60,
              enabled: int | None = None) -> Window:
    """The wizard's page that has this control (and, with `enabled`, whose control of that id
    is enabled): pages replace each other under the same title."""
    deadline = time.monotonic() + timeout
    while True:
        for window in prefix.windows():
            if window.title != TITLE:
                continue
            ids = {control.id: control for control in window.controls}
            if control_id in ids and (enabled is None or ids[enabled].enabled):
                return window
        if time.monotonic() > deadline:
            titles = [(w.title, [c.id for c in w.controls]) for w in prefix.windows()]
            raise AssertionError(f"no page with control {control_id}: {titles}")
        time.sleep(0.2)


def message_box(prefix: Prefix, timeout: float = 30) -> Window:
    """The message box the wizard shows: captioned with the product's name alone."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for window in prefix.windows():
            if window.title == DISPLAY_NAME:
                return window
        time.sleep(0.2)
    raise AssertionError("no message box")


def walk_to_ready(prefix: Prefix) -> Window:
    welcome = page_with(prefix, 1002, enabled=NEXT)
    prefix.press(welcome, NEXT)
    licence = page_with(prefix, LICENCE_TEXT)
    prefix.press(licence, ACCEPT_LICENCE)
    prefix.press(licence, NEXT)
    for control in (1038, 1039, 1022):  # destination, Start menu, tasks
        page = page_with(prefix, control)
        prefix.press(page, NEXT)
    return page_with(prefix, SUMMARY)


@pytest.mark.usefixtures("display")
def test_clicking_through_the_wizard_installs_the_product(wine_prefix):
    setup = win_build_path("setup/corvane-rdp-workstation-setup.exe")
    running = wine_prefix.start(setup, [], timeout=300)
    try:
        ready = walk_to_ready(wine_prefix)
        summary = ready.control(id=SUMMARY).text
        assert summary.startswith(f"Destination location:\r\n      {INSTALL_FOLDER}\r\n"), summary
        assert "Create a desktop icon" in summary
        wine_prefix.press(ready, NEXT)  # "Install"

        finish = page_with(wine_prefix, LAUNCH, timeout=120)
        # Neither the product nor a web browser is started by this test.
        for box in (LAUNCH, QUICK_START):
            wine_prefix.press(finish, box)
        wine_prefix.press(finish, CANCEL)  # "Finish"
        result = running.wait()
    finally:
        if running.process.poll() is None:
            running.kill()
    assert result.exit_code == 0, result
    assert wine_prefix.exists(f"{INSTALL_FOLDER}\\corvanews.exe")
    assert wine_prefix.exists(f"{INSTALL_FOLDER}\\corvane-rdp-workstation-setup.log")
    assert wine_prefix.reg_exists(UNINSTALL_KEY, view=32)


@pytest.mark.usefixtures("display")
def test_cancel_asks_and_yes_leaves_the_machine_as_it_was(wine_prefix):
    setup = win_build_path("setup/corvane-rdp-workstation-setup.exe")
    running = wine_prefix.start(setup, [], timeout=300)
    try:
        welcome = page_with(wine_prefix, 1002, enabled=NEXT)
        wine_prefix.press(welcome, NEXT)
        licence_page = page_with(wine_prefix, LICENCE_TEXT)
        wine_prefix.press(licence_page, CANCEL)
        question = message_box(wine_prefix)
        assert "Are you sure you wish to cancel" in " ".join(question.texts)
        wine_prefix.press(question, 6)  # IDYES
        result = running.wait()
    finally:
        if running.process.poll() is None:
            running.kill()
    assert result.exit_code == 0, result
    assert not wine_prefix.exists(INSTALL_FOLDER)
    assert not wine_prefix.reg_exists(UNINSTALL_KEY, view=32)
