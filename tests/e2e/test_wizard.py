"""The wizard as a person uses it: the real setup program started without options, its pages
driven under the test's X server, the product installed (or not) as the pages said. Keys are
typed into the X server (Prefix.type_keys), as at a keyboard; buttons are pressed with
wintool (BM_CLICK), which is quicker to follow."""

from __future__ import annotations

import subprocess
from pathlib import Path

import pytest

from test_silent_install import PRODUCT, UNINSTALL_KEY
from test_startup import EDITIONS, log_lines, setup_program, work_log
from winehost import Prefix, WineError, Window, wait_until, win_build_path

NEXT, CANCEL, BACK = 1, 2, 1000
WELCOME_BODY = 1002
LICENCE_TEXT, ACCEPT, REFUSE = 1007, 1008, 1009
FOLDER_EDIT, BROWSE = 1015, 1016
DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON = 1038, 1039, 1022
SUMMARY = 1026
LAUNCH, QUICK_START = 1030, 1033
RESTART_NOW, RESTART_LATER = 1008, 1009
IDOK, IDYES, IDNO = 1, 6, 7
QUICK_START_URL = "https://www.marrowfend.example/corvane-rdp.html#quick-start"
BROWSER = '"C:\\recorder\\browser.exe" "%s"' % QUICK_START_URL


class Wizard:
    """One run of a setup program's wizard. The programs it starts write what they were given
    to a log (CORVANE_STAND_IN_LOG): a recorder stands in for the browser, so no test ever
    starts one."""

    def __init__(self, prefix: Prefix, edition: str = "workstation", env: dict | None = None,
                 program: Path | None = None):
        self.prefix, self.edition = prefix, edition
        self.display_name = EDITIONS[edition]["display"]
        self.title = f"Setup - {self.display_name}"
        self.install_folder = f"C:\\Program Files\\{self.display_name}"
        self.started_log = prefix.scratch / "started.log"
        recorder = "C:\\recorder\\browser.exe"
        # C:\Program.exe is what a path with blanks left unquoted would start instead.
        for path in (recorder, "C:\\Program.exe"):
            prefix.write_file(path,
                              win_build_path("payload/workstation/corvanews.exe.x86").read_bytes())
        for view in (32, 64):
            prefix.reg_set("HKLM\\Software\\Classes\\https\\shell\\open\\command", "",
                           f'"{recorder}" "%1"', view=view)
        self.running = prefix.start(program or setup_program(edition), [], timeout=600, env={
            "CORVANE_STAND_IN_LOG": prefix.windows_path(self.started_log), **(env or {})})

    def __enter__(self) -> "Wizard":
        return self

    def __exit__(self, *exception) -> None:
        if self.running.process.poll() is None:
            self.running.kill()

    def page(self, control_id: int, *, enabled: int | None = None, visible: bool = True,
             timeout: float = 60) -> Window:
        try:
            return self.prefix.wait_for_page(self.title, control_id, enabled=enabled,
                                             visible=visible, timeout=timeout)
        except WineError as error:
            # Whether the setup still runs, and what its log says last, tell a slow page
            # from an ended run.
            try:
                tail = log_lines(work_log(self.prefix, self.edition))[-8:]
            except Exception as reading:  # noqa: BLE001 (only to explain a failure)
                tail = [f"(not read: {reading})"]
            state = "runs" if self.running.process.poll() is None else "has ended"
            raise WineError(f"{error}\nthe setup {state}; its log ends:\n" + "\n".join(tail))

    def message_box(self, timeout: float = 30) -> Window:
        # Captioned with the product's name alone; the pages' titles hold it too.
        return self.prefix.wait_for_window(self.display_name, timeout, exact=True)

    def started(self, program: str) -> list[str]:
        """The command lines `program` was started with."""
        marker = f"{program}: command line ["
        lines = self.started_log.read_text(errors="replace").splitlines() \
            if self.started_log.exists() else []
        return [line[len(marker):-1] for line in lines if line.startswith(marker)]

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
    """Cancel and No keep the page; Cancel and Yes end the run with nothing installed."""
    for answer in (IDNO, IDYES):
        wizard.prefix.press(page, CANCEL)
        question = wizard.message_box()
        assert "Are you sure you wish to cancel" in " ".join(question.texts), question.texts
        wizard.prefix.press(question, answer)
        wait_until(lambda: question.hwnd not in [w.hwnd for w in wizard.prefix.windows()],
                   "the question closed", 30)
    assert wizard.wait().exit_code == 0
    assert not wizard.prefix.exists(wizard.install_folder)
    assert not wizard.prefix.reg_exists(UNINSTALL_KEY + PRODUCT[wizard.edition]["code"], view=32)


# The keyboard alone installs each edition. On the Finish page the workstation's is closed
# with its close box, both boxes left checked: the product starts with its own path quoted,
# and the quick-start address goes to the shell's browser. The server's launch box is cleared
# with the space bar: Enter stores what the page shows, and the quick start still opens.
@pytest.mark.usefixtures("display")
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_the_keyboard_alone_installs_each_edition(wine_prefix, edition):
    keys = wine_prefix.type_keys
    with Wizard(wine_prefix, edition) as wizard:
        welcome = wizard.page(WELCOME_BODY, enabled=NEXT)
        # The checks give the focus to Next, the button that goes on.
        assert wine_prefix.focus(welcome) == NEXT
        keys("Return")

        licence = wizard.page(LICENCE_TEXT)
        text = licence.control(id=LICENCE_TEXT).text
        assert text.startswith(f"{wizard.display_name}\r"), text[:80]
        # Twice round the page: the view, the checked radio button, Back, Cancel (Next is
        # disabled). Tab leaves the licence view and changes nothing in it.
        assert wine_prefix.focus(licence) == LICENCE_TEXT
        keys(*["Tab"] * 8)
        licence = wizard.page(LICENCE_TEXT)
        assert licence.control(id=LICENCE_TEXT).text == text
        assert wine_prefix.focus(licence) == LICENCE_TEXT
        # Into the radio group, where the checked button has the tab stop; Up accepts.
        keys("Tab")
        assert wine_prefix.focus(licence) == REFUSE
        keys("Up")
        assert wine_prefix.focus(wizard.page(LICENCE_TEXT, enabled=NEXT)) == ACCEPT
        keys("Return")

        # The defaults: Enter on the destination, Start menu, tasks and Ready pages.
        for control in (DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON, SUMMARY):
            wizard.page(control)
            keys("Return")

        finish = wizard.page(LAUNCH, timeout=240)
        assert wine_prefix.focus(finish) == LAUNCH
        if edition == "workstation":
            assert finish.control(id=LAUNCH).text == "Launch Corvane RDP Edition now."
            assert finish.control(id=QUICK_START).text == 'Open "Quick Start" page.'
            wine_prefix.close_window(finish)
        else:
            keys("space")
            keys("Return")
        result = wizard.wait()

    assert result.exit_code == 0, result
    main = PRODUCT[edition]["main"]
    for name in (main, EDITIONS[edition]["log"]):
        assert wine_prefix.exists(f"{wizard.install_folder}\\{name}")
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT[edition]["code"], view=32)
    launched = [f'"{wizard.install_folder}\\{main}"'] if edition == "workstation" else []
    wait_until(lambda: wizard.started(main) == launched and wizard.started("browser.exe"),
               "start of the product and the browser", 30, pause=0.5)
    assert wizard.started("browser.exe") == [BROWSER]
    assert wizard.started("Program.exe") == []


# Each showing of the Welcome page runs its checks again; the package is loaded only the
# first time. Loading it again would keep another copy of the unpacked payload each time, so
# ten trips back must cost less than one such copy. Then Back from every page keeps the
# choices and rebuilds the summary.
@pytest.mark.usefixtures("display")
def test_back_from_every_page_keeps_the_choices_and_the_memory_flat(wine_prefix, win_build):
    payload = sum(f.stat().st_size for f in (win_build / "payload" / "workstation").iterdir())
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        sizes = []
        for _ in range(11):
            welcome = wizard.page(WELCOME_BODY, enabled=NEXT)
            sizes.append(prefix.working_set(welcome))
            prefix.press(welcome, NEXT)
            prefix.press(wizard.page(LICENCE_TEXT), BACK)
        # From the first return on, when everything the pages need has been touched once.
        assert sizes[-1] - sizes[1] < payload, f"ten trips grew the memory: {sizes}"

        ready = walk_to_ready(wizard)
        summary = ready.control(id=SUMMARY).text
        assert summary.startswith(
            f"Destination location:\r\n      {wizard.install_folder}\r\n"), summary
        assert "Additional Tasks:" in summary and "Create a desktop icon" in summary, summary
        # Back to the tasks page; without the desktop icon the summary loses its tasks.
        prefix.press(ready, BACK)
        tasks = wizard.page(DESKTOP_ICON)
        prefix.press(tasks, DESKTOP_ICON)
        prefix.press(tasks, NEXT)
        assert "Additional Tasks:" not in wizard.page(SUMMARY).control(id=SUMMARY).text

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
        prefix.press(wizard.page(LICENCE_TEXT, enabled=NEXT), NEXT)
        for control in (DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON):
            prefix.press(wizard.page(control), NEXT)
        assert "Create a desktop icon" not in wizard.page(SUMMARY).control(id=SUMMARY).text
        cancel(wizard, wizard.page(SUMMARY))


# A child installer that asks for a restart brings the restart page in the Finish page's
# place. Restart now: Windows is told to restart (Wine carries on). Later, chosen with the
# arrow key and the page ended with Escape: nothing happens. Neither starts the product or the
# browser.
@pytest.mark.usefixtures("display")
@pytest.mark.parametrize("choice", ["now", "later"])
def test_the_restart_page_does_what_was_chosen(wine_prefix, choice):
    with Wizard(wine_prefix, env={"CORVANE_CHILD_MODE": "restart"}) as wizard:
        wine_prefix.press(walk_to_ready(wizard), NEXT)
        restart = wizard.page(RESTART_NOW, timeout=240)
        assert restart.control(id=RESTART_NOW).text == "Yes, restart  the computer now."
        assert restart.control(id=RESTART_LATER).text == "No, I will restart the computer later."
        assert wine_prefix.focus(restart) == RESTART_NOW
        if choice == "now":
            wine_prefix.type_keys("Return")
        else:
            wine_prefix.type_keys("Down")
            assert wine_prefix.focus(wizard.page(RESTART_NOW)) == RESTART_LATER
            wine_prefix.type_keys("Escape")
        result = wizard.wait()
    assert result.exit_code == 0, result
    lines = log_lines(wine_prefix.host_path(
        f"{wizard.install_folder}\\{EDITIONS['workstation']['log']}"))
    assert ("Restart System" in lines) == (choice == "now"), lines[-5:]
    assert wizard.started("corvanews.exe") == wizard.started("browser.exe") == []


# Without the rich-edit library the License page cannot be made: the wizard tries three times,
# logging why, then says so once and ends with the start-up error's exit code instead of trying
# again for ever.
@pytest.mark.usefixtures("display")
def test_a_page_that_cannot_be_shown_ends_the_run_as_a_startup_error(wine_prefix):
    with Wizard(wine_prefix, env={"WINEDLLOVERRIDES": "riched32="}) as wizard:
        wine_prefix.press(wizard.page(WELCOME_BODY, enabled=NEXT), NEXT)
        box = wizard.message_box()
        assert "Setup Wizard initialization error" in box.texts
        wine_prefix.press(box, IDOK)
        result = wizard.wait()
    assert result.exit_code == -6, result
    assert not wine_prefix.exists(wizard.install_folder)
    lines = log_lines(work_log(wine_prefix, "workstation"))
    assert sum(line.startswith("Wizard page could not be shown: (0x") for line in lines) == 3


def mount_volume(request, prefix, name: str, options: str) -> Path:
    """A small tmpfs (which needs root) in the scratch folder, unmounted after the test."""
    point = prefix.scratch / name
    point.mkdir(parents=True)
    # Writable by its owner alone, like a volume an administrator set up: a tmpfs open to
    # everyone (its default) is refused as a folder standard users can change.
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", options + ",mode=0755", "tmpfs",
                             str(point)], capture_output=True, text=True)
    if result.returncode != 0:
        pytest.skip(f"cannot mount a small volume here: {result.stderr.strip()}")
    request.addfinalizer(lambda: subprocess.run(["umount", "-l", str(point)], check=False))
    return point


REFUSALS = {
    "too long": "The destination folder path is too long by ",
    "read-only": "Setup cannot write to the destination folder",
    "full": "There is not enough free disk space to install ",
}


# Browse offers a new folder and refuses places outside the file system. Next on the
# destination page checks the folder (typed in as Browse would fill it) and stays on the page
# with the reason; Install on the Ready page checks it again, for a volume filled meanwhile.
@pytest.mark.usefixtures("display")
def test_a_destination_the_install_cannot_use_is_refused_before_anything_is_written(
        wine_prefix, request):
    with Wizard(wine_prefix) as wizard:
        prefix = wizard.prefix
        prefix.press(walk_to_destination(wizard), BROWSE)
        browse = prefix.wait_for_window("Browse for Folder")
        assert browse.control("Make New Folder").enabled
        assert browse.control("OK").enabled  # the desktop is a folder
        # Down through the shell's places until one without a file-system path (My Computer)
        # is selected: OK must not take it.
        for _ in range(8):
            prefix.type_keys("Down")
            if not prefix.wait_for_window("Browse for Folder").control("OK").enabled:
                break
        else:
            pytest.fail("OK stayed enabled on every place of the shell")
        prefix.type_keys("Escape")
        destination = wizard.page(DESTINATION_IMAGE)
        assert destination.control(id=FOLDER_EDIT).text == wizard.install_folder

        for case, reason in REFUSALS.items():
            if case == "too long":
                folder = "C:\\" + "x" * 240 + "\\" + wizard.display_name
            else:
                volume = mount_volume(request, prefix, case,
                                      {"read-only": "ro,size=1m", "full": "size=64k"}[case])
                folder = prefix.windows_path(volume) + "\\" + wizard.display_name
            prefix.set_text(destination, FOLDER_EDIT, folder)
            prefix.press(destination, NEXT)
            box = wizard.message_box()
            assert reason in " ".join(box.texts) and f"'{folder}'" in " ".join(box.texts), \
                box.texts
            prefix.press(box, IDOK)
            destination = wizard.page(DESTINATION_IMAGE)
            assert destination.control(id=FOLDER_EDIT).text == folder
            if case == "too long":
                assert not prefix.exists("C:\\" + "x" * 240)
            else:
                assert list(volume.iterdir()) == []

        filling = mount_volume(request, prefix, "filling", "size=4m")
        prefix.set_text(destination, FOLDER_EDIT,
                        prefix.windows_path(filling) + "\\" + wizard.display_name)
        prefix.press(destination, NEXT)
        for control in (START_MENU_IMAGE, DESKTOP_ICON):
            prefix.press(wizard.page(control), NEXT)
        ready = wizard.page(SUMMARY)
        # Someone else fills the volume meanwhile.
        subprocess.run(["dd", "if=/dev/zero", f"of={filling / 'other-data'}", "bs=64k"],
                       capture_output=True, check=False)
        prefix.press(ready, NEXT)
        box = wizard.message_box()
        assert REFUSALS["full"] in " ".join(box.texts), box.texts
        prefix.press(box, IDOK)
        cancel(wizard, wizard.page(SUMMARY))
    assert [entry.name for entry in filling.iterdir()] == ["other-data"]
