"""The batch example of doc/deployment.md, taken from the guide as it stands, run with the real
setup program under Wine's cmd.exe: for each outcome in the guide's table it prints the line
and ends with the exit code the guide promises."""

from __future__ import annotations

import re
import shutil

from test_startup import setup_program, stub_program
from winehost import REPOSITORY

GUIDE = REPOSITORY / "doc" / "deployment.md"

# How each setup exit code of the guide's table is brought about, in this order in one prefix:
# a setup program without its package, the stand-in child installer reporting an error, an
# installation, and a reinstall whose child asks for a restart.
OUTCOMES = {
    -8: (stub_program, {}),
    -10: (setup_program, {"CORVANE_CHILD_MODE": "error"}),
    0: (setup_program, {}),
    -9: (setup_program, {"CORVANE_CHILD_MODE": "restart"}),
}


def test_the_batch_example_prints_what_the_guide_says(wine_prefix):
    # The guide's batch file and its table: setup exit code -> (printed line, exit code).
    text = GUIDE.read_text(encoding="utf-8")
    match = re.search(r"```bat\n(.*?)```\n(.*?)\n\n(\|.*?)(?:\n\n|\Z)", text, re.S)
    assert match, "doc/deployment.md has no ```bat block followed by its table"
    script, rows = match.group(1), {}
    for line in match.group(3).splitlines()[2:]:
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        rows[int(re.match(r"-?\d+", cells[0]).group())] = (cells[1].strip("`"), int(cells[2]))
    assert sorted(rows) == sorted(OUTCOMES)
    folder = wine_prefix.drive_c / "deploy"
    folder.mkdir()
    (folder / "install-corvane.cmd").write_bytes(script.replace("\n", "\r\n").encode("ascii"))
    for setup_exit_code, (program, env) in OUTCOMES.items():
        printed, script_exit_code = rows[setup_exit_code]
        shutil.copyfile(program(), folder / "corvane-rdp-workstation-setup.exe")
        result = wine_prefix.run("C:\\windows\\system32\\cmd.exe",
                                 ["/c", "C:\\deploy\\install-corvane.cmd"], env=env,
                                 timeout=240)
        assert result.stdout.splitlines() == [printed], result
        assert result.exit_code == script_exit_code, result
