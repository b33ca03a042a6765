"""The batch example of doc/deployment.md, taken from the guide as it stands, run with the real
setup program under Wine's cmd.exe: for each outcome in the guide's table it prints the line
and ends with the exit code the guide promises."""

from __future__ import annotations

import re
import shutil

import pytest

from test_startup import setup_program, stub_program
from winehost import REPOSITORY

GUIDE = REPOSITORY / "doc" / "deployment.md"

# How each setup exit code of the guide's table is brought about: the stand-in child installer
# reports an error or asks for a restart when told so through the environment, and a setup
# program without its package cannot prepare it.
OUTCOMES = {
    0: {"program": setup_program, "env": {}},
    -9: {"program": setup_program, "env": {"CORVANE_CHILD_MODE": "restart"}},
    -10: {"program": setup_program, "env": {"CORVANE_CHILD_MODE": "error"}},
    -8: {"program": stub_program, "env": {}},
}


def batch_example() -> tuple[str, dict[int, tuple[str, int]]]:
    """The guide's batch file and its table: setup exit code -> (printed line, exit code)."""
    text = GUIDE.read_text(encoding="utf-8")
    match = re.search(r"```bat\n(.*?)```\n(.*?)\n\n(\|.*?)(?:\n\n|\Z)", text, re.S)
    assert match, "doc/deployment.md has no ```bat block followed by its table"
    script, table = match.group(1), match.group(3)
    rows = {}
    for line in table.splitlines()[2:]:
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        code = int(re.match(r"-?\d+", cells[0]).group())
        rows[code] = (cells[1].strip("`"), int(cells[2]))
    return script, rows


def test_the_guide_lists_every_outcome_the_test_brings_about():
    assert sorted(batch_example()[1]) == sorted(OUTCOMES)


@pytest.mark.parametrize("setup_exit_code", sorted(OUTCOMES))
def test_the_batch_example_prints_what_the_guide_says(wine_prefix, setup_exit_code):
    script, rows = batch_example()
    printed, script_exit_code = rows[setup_exit_code]
    outcome = OUTCOMES[setup_exit_code]
    folder = wine_prefix.drive_c / "deploy"
    folder.mkdir()
    shutil.copyfile(outcome["program"](), folder / "corvane-rdp-workstation-setup.exe")
    (folder / "install-corvane.cmd").write_bytes(script.replace("\n", "\r\n").encode("ascii"))

    result = wine_prefix.run("C:\\windows\\system32\\cmd.exe",
                             ["/c", "C:\\deploy\\install-corvane.cmd"], env=outcome["env"],
                             timeout=240)
    assert result.stdout.splitlines() == [printed], result
    assert result.exit_code == script_exit_code, result
