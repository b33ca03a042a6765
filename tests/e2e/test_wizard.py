"""The wizard as a person uses it: the real setup program started without options, its pages
driven under the test's X server, the product installed (or not) as the pages said.

The keyboard tests type into the X server (Prefix.type_keys), as a user at the keyboard
would: no message is sent to any control. The other tests press buttons with wintool
(BM_CLICK), which is quicker to follow."""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

import pytest

from test_startup import EDITIONS, log_lines, setup_program
from winehost import Prefix, RunningProgram, Window, win_build_path

NEXT, CANCEL, BACK = 1, 2, 1000
WELCOME_BODY = 1002
LICENCE_TEXT, ACCEPT, REFUSE = 1007, 1008, 1009
FOLDER_EDIT, BROWSE = 1015, 1016
DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON = 1038, 1039, 1022
SUMMARY = 1026
LAUNCH, QUICK_START = 1030, 1033
RESTART_NOW, RESTART_LATER = 1008, 1009
IDOK, IDYES = 1, 6

PRODUCT = {
    "workstation": {"main": "corvanews.exe", "code": "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}"},
    "server": {"main": "corvanets.exe", "code": "{4B8D2E61-7F3A-4C95-B0D4-6E2A9C1F5B37}"},
}
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
QUICK_START_URL = "https://www.marrowfend.example/corvane-rdp.html#quick-start"


class Wizard:
    """One run of a setup program's wizard. The programs it starts write what they were given
    to a log (CORVANE_STAND_IN_LOG), web addresses included: a recorder stands in for the
    browser, so no test ever starts one."""

    def __init__(self, prefix: Prefix, edition: str = "workstation", env: dict | None = None,
                 program: Path | None = None):
        self.prefix = prefix
        self.edition = edition
        self.display_name = EDITIONS[edition]["display"]
        self.title = f"Setup - {self.display_name}"
        # The 64-bit Program Files folder, as on 64-bit Windows.
        self.install_folder = f"C:\\Program Files\\{self.display_name}"
        self.started_log = prefix.scratch / "started.log"
        self.started_log.parent.mkdir(parents=True, exist_ok=True)
        self.started_log.unlink(missing_ok=True)
        recorder = "C:\\recorder\\browser.exe"
        prefix.write_file(recorder,
                          win_build_path("payload/workstation/corvanews.exe.x86").read_bytes())
        for view in (32, 64):
            prefix.reg_set("HKLM\\Software\\Classes\\https\\shell\\open\\command", "",
                           f'"{recorder}" "%1"', view=view)
        environment = {"CORVANE_STAND_IN_LOG": prefix.windows_path(self.started_log)}
        self.running: RunningProgram = prefix.start(program or setup_program(edition), [],
                                                    env={**environment, **(env or {})},
                                                    timeout=600)

    def __enter__(self) -> "Wizard":
        return self

    def __exit__(self, *exception) -> None:
        if self.running.process.poll() is None:
            self.running.kill()

    # -- seeing ---------------------------------------------------------------------------------

    def page(self, control_id: int, *, enabled: int | None = None, visible: bool = True,
             timeout: float = 60) -> Window:
        """The page that has this control (see Prefix.wait_for_page)."""
        return self.prefix.wait_for_page(self.title, control_id, enabled=enabled,
                                         visible=visible, timeout=timeout)

    def message_box(self, timeout: float = 30) -> Window:
        """The message box of the setup: captioned with the product's name alone."""
        return self.prefix.wait_for_window(self.display_name, timeout=timeout)

    def focus(self, window: Window) -> int:
        """The id of the control that has the keyboard focus on the page."""
        return self.prefix.focus(window)

    def started(self, program: str) -> list[str]:
        """The command lines `program` was started with."""
        if not self.started_log.exists():
            return []
        marker = f"{program}: command line ["
        return [line[len(marker):-1] for line in
                self.started_log.read_text(errors="replace").splitlines()
                if line.startswith(marker)]

    # -- acting ---------------------------------------------------------------------------------

    def keys(self, *keys: str) -> None:
        """Key presses into the page (xdotool names: Tab, Return, space, shift+Tab...)."""
        self.prefix.type_keys(*keys)

    def wait(self, timeout: float = 300):
        result = self.running.wait(timeout)
        assert not result.timed_out, result
        return result


def walk_to_destination(wizard: Wizard) -> Window:
    prefix = wizard.prefix
    prefix.press(wizard.page(WELCOME_BODY, enabled=NEXT), NEXT)
    licence = wizard.page(LICENCE_TEXT)
    prefix.press(licence, ACCEPT)
    prefix.press(licence, NEXT)
    return wizard.page(DESTINATION_IMAGE)


def walk_to_ready(wizard: Wizard, folder: str | None = None) -> Window:
    """The Ready page, with `folder` typed in as the destination (as Browse would fill it;
    the edit is read-only to the user)."""
    destination = walk_to_destination(wizard)
    if folder is not None:
        wizard.prefix.set_text(destination, FOLDER_EDIT, folder)
    wizard.prefix.press(destination, NEXT)
    for control in (START_MENU_IMAGE, DESKTOP_ICON):
        wizard.prefix.press(wizard.page(control), NEXT)
    return wizard.page(SUMMARY)


def cancel(wizard: Wizard, page: Window):
    """Cancel, and Yes to the question: the run ends with nothing installed."""
    wizard.prefix.press(page, CANCEL)
    wizard.prefix.press(wizard.message_box(), IDYES)
    result = wizard.wait()
    assert result.exit_code == 0, result


def assert_installed(wizard: Wizard) -> None:
    prefix, product = wizard.prefix, PRODUCT[wizard.edition]
    assert prefix.exists(f"{wizard.install_folder}\\{product['main']}")
    assert prefix.exists(f"{wizard.install_folder}\\{EDITIONS[wizard.edition]['log']}")
    assert prefix.reg_exists(UNINSTALL_KEY + product["code"], view=32)


# --------------------------------------------------------------------------------------------
# The keyboard alone


@pytest.mark.usefixtures("display")
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_the_keyboard_alone_installs_each_edition(wine_prefix, edition):
    with Wizard(wine_prefix, edition) as wizard:
        welcome = wizard.page(WELCOME_BODY, enabled=NEXT)
        # The checks give the focus to Next, the button that goes on.
        assert wizard.focus(welcome) == NEXT
        wizard.keys("Return")

        licence = wizard.page(LICENCE_TEXT)
        text = licence.control(id=LICENCE_TEXT).text
        assert text.startswith(f"{wizard.display_name}\r"), text[:80]
        # Twice round the page: the view, the checked radio button, Back, Cancel (Next is
        # disabled). Tab leaves the licence view and changes nothing in it.
        assert wizard.focus(licence) == LICENCE_TEXT
        wizard.keys(*["Tab"] * 8)
        licence = wizard.page(LICENCE_TEXT)
        assert licence.control(id=LICENCE_TEXT).text == text
        assert wizard.focus(licence) == LICENCE_TEXT
        # Into the radio group, where the checked button has the tab stop; Up accepts.
        wizard.keys("Tab")
        assert wizard.focus(licence) == REFUSE
        wizard.keys("Up")
        licence = wizard.page(LICENCE_TEXT, enabled=NEXT)
        assert wizard.focus(licence) == ACCEPT
        wizard.keys("Return")

        # The defaults: Enter on the destination, Start menu, tasks and Ready pages.
        for control in (DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON, SUMMARY):
            wizard.page(control)
            wizard.keys("Return")

        finish = wizard.page(LAUNCH, timeout=240)
        assert wizard.focus(finish) == LAUNCH
        wizard.keys("space")
        wizard.keys("Return")
        result = wizard.wait()

    assert result.exit_code == 0, result
    assert_installed(wizard)
    assert wizard.started(PRODUCT[edition]["main"]) == []
    # "Open Quick Start" stayed checked: Enter stored what the page showed.
    assert wizard.started("browser.exe") == [f'"C:\\recorder\\browser.exe" "{QUICK_START_URL}"']


# --------------------------------------------------------------------------------------------
# The page loop


@pytest.mark.usefixtures("display")
def test_back_from_every_page_keeps_the_choices_and_rebuilds_the_summary(wine_prefix):
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        ready = walk_to_ready(wizard)
        summary = ready.control(id=SUMMARY).text
        assert summary.startswith(
            f"Destination location:\r\n      {wizard.install_folder}\r\n"), summary
        assert "Additional Tasks:" in summary and "Create a desktop icon" in summary, summary

        # Back from the Ready page to the tasks page; without the desktop icon the summary
        # loses its tasks.
        prefix.press(ready, BACK)
        tasks = wizard.page(DESKTOP_ICON)
        prefix.press(tasks, DESKTOP_ICON)
        prefix.press(tasks, NEXT)
        summary = wizard.page(SUMMARY).control(id=SUMMARY).text
        assert "Additional Tasks:" not in summary, summary

        # Back from every page to the Welcome page, each time the page before.
        for page, previous in ((SUMMARY, DESKTOP_ICON), (DESKTOP_ICON, START_MENU_IMAGE),
                               (START_MENU_IMAGE, DESTINATION_IMAGE),
                               (DESTINATION_IMAGE, LICENCE_TEXT), (LICENCE_TEXT, WELCOME_BODY)):
            prefix.press(wizard.page(page), BACK)
            wizard.page(previous)
        # The tasks page came back with the box cleared; the licence stayed accepted.
        welcome = wizard.page(WELCOME_BODY, enabled=NEXT)
        assert "Click Next to continue" in welcome.control(id=WELCOME_BODY).text
        prefix.press(welcome, NEXT)
        licence = wizard.page(LICENCE_TEXT, enabled=NEXT)
        prefix.press(licence, NEXT)
        for control in (DESTINATION_IMAGE, START_MENU_IMAGE):
            prefix.press(wizard.page(control), NEXT)
        prefix.press(wizard.page(DESKTOP_ICON), NEXT)
        summary = wizard.page(SUMMARY).control(id=SUMMARY).text
        assert "Create a desktop icon" not in summary, summary

        cancel(wizard, wizard.page(SUMMARY))
    assert not wine_prefix.exists(wizard.install_folder)


@pytest.mark.usefixtures("display")
def test_ten_trips_back_to_the_welcome_page_keep_the_memory_flat(wine_prefix, win_build):
    """Each showing of the Welcome page runs its checks again; the package is loaded only
    the first time. Loading it again would keep another copy of the unpacked payload each
    time, so ten trips must cost less than one such copy."""
    payload = sum(f.stat().st_size for f in (win_build / "payload" / "workstation").iterdir())
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        sizes = []
        for _ in range(11):
            welcome = wizard.page(WELCOME_BODY, enabled=NEXT)
            sizes.append(prefix.working_set(welcome))
            prefix.press(welcome, NEXT)
            prefix.press(wizard.page(LICENCE_TEXT), BACK)
        cancel(wizard, wizard.page(WELCOME_BODY, enabled=NEXT))
    # From the first return on, when everything the pages need has been touched once.
    growth = sizes[-1] - sizes[1]
    assert growth < payload, f"{growth} bytes more after ten trips: {sizes}"


@pytest.mark.usefixtures("display")
@pytest.mark.parametrize("choice", ["now", "later"])
def test_the_restart_page_does_what_was_chosen(wine_prefix, choice):
    """A child installer that asks for a restart brings the restart page in the Finish page's
    place. Restart now: Windows is told to restart (Wine carries on). Later: nothing happens.
    Neither starts the product or the browser; the choice is stored however the page ends."""
    with Wizard(wine_prefix, env={"CORVANE_CHILD_MODE": "restart"}) as wizard:
        wizard.prefix.press(walk_to_ready(wizard), NEXT)
        restart = wizard.page(RESTART_NOW, timeout=240)
        assert restart.control(id=RESTART_NOW).text == "Yes, restart  the computer now."
        assert wizard.focus(restart) == RESTART_NOW
        if choice == "now":
            wizard.keys("Return")
        else:
            # The arrow key chooses, Escape ends the page: the choice must still count.
            wizard.keys("Down")
            assert wizard.focus(wizard.page(RESTART_NOW)) == RESTART_LATER
            wizard.keys("Escape")
        result = wizard.wait()
    assert result.exit_code == 0, result
    lines = log_lines(wine_prefix.host_path(
        f"{wizard.install_folder}\\{EDITIONS['workstation']['log']}"))
    assert ("Restart System" in lines) == (choice == "now"), lines[-5:]
    assert wizard.started("corvanews.exe") == []
    assert wizard.started("browser.exe") == []


@pytest.mark.usefixtures("display")
def test_the_finish_page_starts_the_product_and_the_quick_start_page(wine_prefix):
    """Both boxes left checked, the page closed with its close box: the product is started
    with its own path quoted, and the quick-start address goes to the shell's browser."""
    with Wizard(wine_prefix) as wizard:
        wizard.prefix.press(walk_to_ready(wizard), NEXT)
        finish = wizard.page(LAUNCH, timeout=240)
        assert finish.control(id=LAUNCH).text == "Launch Corvane RDP Edition now."
        wizard.prefix.close_window(finish)
        result = wizard.wait()
    assert result.exit_code == 0, result
    deadline = time.monotonic() + 30
    while not (wizard.started("corvanews.exe") and wizard.started("browser.exe")):
        assert time.monotonic() < deadline, wizard.started_log.read_text(errors="replace")
        time.sleep(0.5)
    assert wizard.started("corvanews.exe") == [f'"{wizard.install_folder}\\corvanews.exe"']
    assert wizard.started("browser.exe") == [f'"C:\\recorder\\browser.exe" "{QUICK_START_URL}"']


@pytest.mark.usefixtures("display")
def test_a_page_that_cannot_be_shown_ends_the_run_as_a_startup_error(wine_prefix):
    """Without the rich-edit library the License page cannot be made: the wizard says so once
    and ends with the start-up error's exit code instead of trying again for ever."""
    with Wizard(wine_prefix, env={"WINEDLLOVERRIDES": "riched32="}) as wizard:
        wizard.prefix.press(wizard.page(WELCOME_BODY, enabled=NEXT), NEXT)
        box = wizard.message_box()
        assert "Setup Wizard initialization error" in box.texts
        wizard.prefix.press(box, IDOK)
        result = wizard.wait()
    assert result.exit_code == -6, result
    assert not wine_prefix.exists(wizard.install_folder)


@pytest.mark.usefixtures("display")
def test_cancel_asks_and_yes_leaves_the_machine_as_it_was(wine_prefix):
    with Wizard(wine_prefix) as wizard:
        wizard.prefix.press(wizard.page(WELCOME_BODY, enabled=NEXT), NEXT)
        wizard.prefix.press(wizard.page(LICENCE_TEXT), CANCEL)
        question = wizard.message_box()
        assert "Are you sure you wish to cancel" in " ".join(question.texts)
        wizard.prefix.press(question, IDYES)
        assert wizard.wait().exit_code == 0
    assert not wine_prefix.exists(wizard.install_folder)
    assert not wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


# --------------------------------------------------------------------------------------------
# The destination


@pytest.mark.usefixtures("display")
def test_browse_offers_a_new_folder_and_refuses_places_outside_the_file_system(wine_prefix):
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        prefix.press(walk_to_destination(wizard), BROWSE)
        browse = prefix.wait_for_window("Browse for Folder")
        assert browse.control("Make New Folder").enabled
        assert browse.control("OK").enabled  # the desktop is a folder
        # Down through the shell's places until one without a file-system path (My
        # Computer) is selected: OK must not take it.
        for _ in range(8):
            wizard.keys("Down")
            browse = prefix.wait_for_window("Browse for Folder")
            if not browse.control("OK").enabled:
                break
        else:
            pytest.fail("OK stayed enabled on every place of the shell")
        wizard.keys("Escape")
        destination = wizard.page(DESTINATION_IMAGE)
        assert destination.control(id=FOLDER_EDIT).text == wizard.install_folder
        cancel(wizard, destination)


@pytest.fixture
def volumes(wine_prefix):
    """Small volumes of their own (tmpfs mounts, which need root): volumes(name, options)
    mounts one in the prefix's scratch folder and returns its host path."""
    mounted: list[Path] = []

    def mount(name: str, options: str) -> Path:
        point = wine_prefix.scratch / name
        point.mkdir(parents=True)
        # Writable by its owner alone, like a volume an administrator set up: a tmpfs open to
        # everyone (its default) is refused as a folder standard users can change.
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", options + ",mode=0755", "tmpfs",
                                 str(point)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            pytest.skip(f"cannot mount a small volume here: {result.stderr.strip()}")
        mounted.append(point)
        return point

    yield mount
    for point in reversed(mounted):
        subprocess.run(["umount", "-l", str(point)], check=False)


def refusal_case(wizard: Wizard, volumes, case: str) -> tuple[str, Path | None]:
    """The install folder of a case and the volume it is on (None: the system drive)."""
    if case == "too long":
        return "C:\\" + "x" * 240 + "\\" + wizard.display_name, None
    options = {"read-only": "ro,size=1m", "full": "size=64k"}[case]
    volume = volumes(case.replace(" ", "-"), options)
    return wizard.prefix.windows_path(volume) + "\\" + wizard.display_name, volume


REFUSALS = {
    "too long": "The destination folder path is too long by ",
    "read-only": "Setup cannot write to the destination folder",
    "full": "There is not enough free disk space to install ",
}


@pytest.mark.usefixtures("display")
@pytest.mark.parametrize("case", list(REFUSALS))
def test_a_destination_the_install_cannot_use_is_refused_before_anything_is_written(
        wine_prefix, volumes, case):
    """Next on the destination page checks the folder (the edit is read-only to the user;
    the test types into it as Browse would fill it) and stays on the page with the reason."""
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        folder, volume = refusal_case(wizard, volumes, case)
        destination = walk_to_destination(wizard)
        prefix.set_text(destination, FOLDER_EDIT, folder)
        prefix.press(destination, NEXT)
        box = wizard.message_box()
        text = " ".join(box.texts)
        assert REFUSALS[case] in text and f"'{folder}'" in text, text
        prefix.press(box, IDOK)
        # Still the destination page, with the folder as it was typed.
        destination = wizard.page(DESTINATION_IMAGE)
        assert destination.control(id=FOLDER_EDIT).text == folder
        cancel(wizard, destination)
    assert not wine_prefix.exists("C:\\" + "x" * 240)
    if volume is not None:
        assert list(volume.iterdir()) == []
    assert not wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


@pytest.mark.usefixtures("display")
def test_install_on_the_ready_page_checks_the_destination_again(wine_prefix, volumes):
    """The volume was roomy on the destination page and is full when Install is pressed:
    the Ready page refuses, and nothing is installed."""
    volume = volumes("filling", "size=4m")
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        folder = prefix.windows_path(volume) + "\\" + wizard.display_name
        ready = walk_to_ready(wizard, folder)
        # Someone else fills the volume meanwhile.
        subprocess.run(["dd", "if=/dev/zero", f"of={volume / 'other-data'}", "bs=64k"],
                       capture_output=True, check=False)
        prefix.press(ready, NEXT)
        box = wizard.message_box()
        assert REFUSALS["full"] in " ".join(box.texts), box.texts
        prefix.press(box, IDOK)
        cancel(wizard, wizard.page(SUMMARY))
    assert [entry.name for entry in volume.iterdir()] == ["other-data"]
