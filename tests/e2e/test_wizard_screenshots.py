"""scripts/wizard-screenshots.py, the pictures of doc/wizard.md, still reaches every page of
both editions' wizards: it is run as a reader of the documentation would run it."""

from __future__ import annotations

import subprocess
import sys

import pytest

from winehost import REPOSITORY

PAGES = ["01-welcome", "02-license", "03-destination", "04-start-menu", "05-tasks", "06-ready",
         "07-progress", "08-finish", "09-restart"]
HIGH_CONTRAST = ["10-welcome-high-contrast", "11-license-high-contrast"]


@pytest.mark.usefixtures("win_build")
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_the_screenshot_script_reaches_every_page(tmp_path, edition):
    result = subprocess.run(
        [sys.executable, str(REPOSITORY / "scripts" / "wizard-screenshots.py"), "--edition",
         edition, "--out", str(tmp_path)], capture_output=True, text=True, timeout=1200)
    assert result.returncode == 0, result.stdout + result.stderr
    expected = PAGES + (HIGH_CONTRAST if edition == "workstation" else [])
    taken = sorted(path.name for path in tmp_path.iterdir())
    assert taken == [f"{edition}-{page}.png" for page in expected]
    for path in tmp_path.iterdir():
        assert path.read_bytes().startswith(b"\x89PNG"), path
        # A page of about 560 x 350 pixels, not an empty crop of the screen.
        identify = subprocess.run(["identify", "-format", "%w %h", str(path)],
                                  capture_output=True, text=True, check=True)
        width, height = (int(part) for part in identify.stdout.split())
        assert 400 < width < 1024 and 250 < height < 768, (path.name, width, height)
