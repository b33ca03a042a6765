#!/usr/bin/python3
"""Takes a picture of every page of the wizard of each edition, from the real setup programs
of the cross build, under a private X server: the pictures doc/wizard.md shows.

    scripts/wizard-screenshots.py [--edition workstation|server]... [--out FOLDER]

FOLDER defaults to doc/images/wizard. Each edition is walked through twice in throw-away Wine
prefixes (copies of the pristine ones, see scripts/wine-prefix), in a Wine virtual desktop so
that the pages carry their title bars:
  1. Welcome, License, destination, Start menu, tasks, Ready, Progress (the sample payload's
     child installer is told to take a few seconds), Finish;
  2. with a child installer that asks for a restart: the restart page instead of Finish.
The workstation's Welcome and License pages are taken once more under a high-contrast colour
scheme. Files: EDITION-NN-PAGE.png. The exit status is 1 when a page could not be reached
(the message names it), 0 when every picture was taken.

Needs the win32 build (scripts/build.sh), Xvfb, ImageMagick's import and the sample payload.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
import time
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPOSITORY / "tests" / "e2e"))

from winehost import Prefix, WineError, start_xvfb, unique_prefix_path, win_build_path  # noqa

DISPLAY_NAMES = {
    "workstation": "Corvane RDP Edition - Workstation",
    "server": "Corvane RDP Edition - Server",
}
NEXT, CANCEL, BACK = 1, 2, 1000
WELCOME_BODY, LICENCE_TEXT, ACCEPT = 1002, 1007, 1008
DESTINATION_IMAGE, START_MENU_IMAGE, DESKTOP_ICON, SUMMARY = 1038, 1039, 1022, 1026
PROGRESS_BAR, LAUNCH, QUICK_START, RESTART_NOW, RESTART_LATER = 1029, 1030, 1033, 1008, 1009
IDYES = 6
# The colours of Windows' "High Contrast Black" scheme that the pages use.
HIGH_CONTRAST = {
    "Window": "0 0 0", "WindowText": "255 255 255", "ButtonFace": "0 0 0",
    "ButtonText": "255 255 255", "GrayText": "63 242 63", "Hilight": "26 235 255",
    "HilightText": "0 0 0", "ButtonShadow": "128 128 128", "ButtonHilight": "192 192 192",
    "ActiveTitle": "128 0 128", "TitleText": "255 255 255",
}


class PageNotReached(Exception):
    pass


class Run:
    """One run of a setup program in a prefix of its own, inside a virtual desktop."""

    def __init__(self, edition: str, display: str, out: Path, env: dict | None = None,
                 colours: dict | None = None):
        self.edition = edition
        self.title = f"Setup - {DISPLAY_NAMES[edition]}"
        self.out = out
        self.prefix = Prefix.create(unique_prefix_path(f"screenshots-{edition}"), "win64", display)
        # A virtual desktop of its own: Wine draws the title bars there, and its screen is the
        # X server's.
        self.prefix.reg_set("HKCU\\Software\\Wine\\Explorer", "Desktop", "screenshots", view=64)
        self.prefix.reg_set("HKCU\\Software\\Wine\\Explorer\\Desktops", "screenshots",
                            "1024x768", view=64)
        for name, value in (colours or {}).items():
            self.prefix.reg_set("HKCU\\Control Panel\\Colors", name, value, view=64)
        self.running = self.prefix.start(
            win_build_path(f"setup/corvane-rdp-{edition}-setup.exe"), [], env=env, timeout=900)

    def close(self) -> None:
        if self.running.process.poll() is None:
            self.running.kill()
        self.prefix.destroy()

    def page(self, name: str, control_id: int, **conditions):
        try:
            return self.prefix.wait_for_page(self.title, control_id, **conditions)
        except WineError as error:
            raise PageNotReached(f"{self.edition}: the {name} page was not reached: {error}")

    def shoot(self, window, number: int, name: str) -> Path:
        """The window as it is on the screen (title bar included)."""
        # The pointer over the page makes it the active window: its title bar in colour.
        subprocess.run(["xdotool", "mousemove", "512", "384"], env=self.prefix.environment(),
                       check=False, capture_output=True)
        time.sleep(1.0)  # painted, and the caret or focus settled
        left, top, right, bottom = self.prefix.window_rect(window)
        path = self.out / f"{self.edition}-{number:02d}-{name}.png"
        subprocess.run(["import", "-display", self.prefix.display, "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)],
                       check=True, capture_output=True, timeout=60)
        print(f"  {path.name}")
        return path

    def through_licence(self, shots: bool) -> None:
        welcome = self.page("Welcome", WELCOME_BODY, enabled=NEXT, timeout=120)
        if shots:
            self.shoot(welcome, 1, "welcome")
        self.prefix.press(welcome, NEXT)
        licence = self.page("License", LICENCE_TEXT)
        if shots:
            self.shoot(licence, 2, "license")
        self.prefix.press(licence, ACCEPT)
        self.prefix.press(licence, NEXT)

    def to_ready(self, shots: bool) -> None:
        self.through_licence(shots)
        for number, name, control in ((3, "destination", DESTINATION_IMAGE),
                                      (4, "start-menu", START_MENU_IMAGE),
                                      (5, "tasks", DESKTOP_ICON), (6, "ready", SUMMARY)):
            window = self.page(name, control)
            if shots:
                self.shoot(window, number, name)
            self.prefix.press(window, NEXT)

    def wait(self) -> None:
        result = self.running.wait(300)
        if result.exit_code != 0:
            raise PageNotReached(f"{self.edition}: the setup ended with {result}")


def pages_of(edition: str, display: str, out: Path) -> None:
    # The child installer reports for a few seconds, so the Progress page stays long enough
    # to be seen half-way.
    run = Run(edition, display, out, env={"CORVANE_CHILD_MODE": "long",
                                          "CORVANE_CHILD_SECONDS": "8"})
    try:
        run.to_ready(shots=True)
        progress = run.page("Progress", PROGRESS_BAR, timeout=120)
        time.sleep(3)
        run.shoot(progress, 7, "progress")
        finish = run.page("Finish", LAUNCH, timeout=300)
        run.shoot(finish, 8, "finish")
        # Neither the product nor a browser is started.
        run.prefix.press(finish, LAUNCH)
        run.prefix.press(finish, QUICK_START)
        run.prefix.press(finish, CANCEL)
        run.wait()
    finally:
        run.close()

    run = Run(edition, display, out, env={"CORVANE_CHILD_MODE": "restart"})
    try:
        run.to_ready(shots=False)
        restart = run.page("restart", RESTART_NOW, timeout=300)
        run.shoot(restart, 9, "restart")
        run.prefix.press(restart, RESTART_LATER)
        run.prefix.press(restart, CANCEL)
        run.wait()
    finally:
        run.close()


def high_contrast(edition: str, display: str, out: Path) -> None:
    run = Run(edition, display, out, colours=HIGH_CONTRAST)
    try:
        welcome = run.page("Welcome", WELCOME_BODY, enabled=NEXT, timeout=120)
        run.shoot(welcome, 10, "welcome-high-contrast")
        run.prefix.press(welcome, NEXT)
        licence = run.page("License", LICENCE_TEXT)
        run.shoot(licence, 11, "license-high-contrast")
        run.prefix.press(licence, CANCEL)
        run.prefix.press(run.prefix.wait_for_window(DISPLAY_NAMES[edition]), IDYES)
        run.wait()
    finally:
        run.close()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--edition", action="append", choices=sorted(DISPLAY_NAMES))
    parser.add_argument("--out", type=Path, default=REPOSITORY / "doc" / "images" / "wizard")
    arguments = parser.parse_args(argv)
    editions = arguments.edition or ["workstation", "server"]
    arguments.out.mkdir(parents=True, exist_ok=True)
    subprocess.run([str(REPOSITORY / "scripts" / "wine-prefix"), "pristine", "--arch", "win64"],
                   check=True, stdout=subprocess.DEVNULL)
    xvfb, display = start_xvfb()
    try:
        for edition in editions:
            print(f"{edition}:")
            pages_of(edition, display, arguments.out)
            if edition == "workstation":
                high_contrast(edition, display, arguments.out)
    except PageNotReached as error:
        print(f"wizard-screenshots: {error}", file=sys.stderr)
        return 1
    finally:
        xvfb.terminate()
        xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
