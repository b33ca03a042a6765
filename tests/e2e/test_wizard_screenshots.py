"""scripts/wizard-screenshots.py, the pictures of doc/wizard.md, still reaches every page, run
as a reader of the documentation would run it. The server edition's pages are the same code
under other names, so the workstation's walk stands for both."""

from __future__ import annotations

import subprocess
import sys

import pytest

from winehost import REPOSITORY

PAGES = ["01-welcome", "02-license", "03-destination", "04-start-menu", "05-tasks", "06-ready",
         "07-progress", "08-finish", "09-restart", "10-welcome-high-contrast",
         "11-license-high-contrast"]


@pytest.mark.usefixtures("win_build")
def test_the_screenshot_script_reaches_every_page(tmp_path):
    result = subprocess.run(
        [sys.executable, str(REPOSITORY / "scripts" / "wizard-screenshots.py"), "--edition",
         "workstation", "--out", str(tmp_path)], capture_output=True, text=True, timeout=1200)
    assert result.returncode == 0, result.stdout + result.stderr
    assert sorted(path.name for path in tmp_path.iterdir()) == \
        [f"workstation-{page}.png" for page in PAGES]
    for path in tmp_path.iterdir():
        # A page of about 560 x 350 pixels, not an empty crop of the screen.
        identify = subprocess.run(["identify", "-format", "%m %w %h", str(path)],
                                  capture_output=True, text=True, check=True)
        kind, width, height = identify.stdout.split()
        assert kind == "PNG" and 400 < int(width) < 1024 and 250 < int(height) < 768, \
            (path.name, identify.stdout)
