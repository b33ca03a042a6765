#!/usr/bin/python3
"""Seeded faults: applies each deliberate fault in turn to a scratch copy of this checkout and
prints which test caught it (usage and the format of a fault: tests/README.md)."""

from __future__ import annotations

import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
CHECKOUT = HERE.parent.parent
WORK = CHECKOUT / "build" / "seeded-faults"
PYTHON = "/usr/bin/python3"
JOBS_PER_BUILD = "2"
E2E_WORKERS = 2

# The suites a fault's area falls back to when its own tests pass: every native test (they take
# seconds), the Windows tests (ctest in build/win32) whose names match the regex, and a few broad
# end-to-end tests of the area. Every Windows test and every end-to-end test would take about
# 35 minutes per fault on two cores; --full runs them all instead.
SILENT_INSTALL = "test_silent_install.py::test_a_silent_install_puts_every_file_registration_and" \
                 "_shortcut_in_place"
CHILD_ERROR = "test_silent_install.py::test_a_child_error_fails_the_install_and_leaves_the" \
              "_machine_as_it_was[workstation]"
ROLLBACK_TABLE = "test_rollback_faults.py"
AREAS = {
    "package": (None, ["test_startup.py::test_a_missing_or_damaged_package_fails_every_mode",
                       "test_startup.py::test_command_line_picks_the_mode_and_exit_code",
                       "test_pack_tool_windows.py"]),
    "command-line": (None, ["test_startup.py::test_command_line_picks_the_mode_and_exit_code"]),
    "log": ("WriteLine|InstallerLog|Capture",
            ["test_startup.py::test_a_missing_or_damaged_package_fails_every_mode", CHILD_ERROR]),
    "journal": ("InstallerFiles|RestartFlag|Journal|Registry|Shortcut|ShellLink|Drivers",
                [ROLLBACK_TABLE, "test_install_journal.py"]),
    "files": ("InstallerFiles|RestartFlag|Journal", [ROLLBACK_TABLE, "test_install_journal.py"]),
    "registry": ("Registry|InstalledVersion|UninstallEntries",
                 [SILENT_INSTALL + "[workstation-win64-7]"]),
    "drivers": ("Drivers|Uninstall|InstallProgress|UpperFilters|Services", [CHILD_ERROR]),
    "shortcuts": ("Shortcut|ShellLink|Failures",
                  [SILENT_INSTALL + "[workstation-win64-7]", ROLLBACK_TABLE]),
    "payload": (None, [SILENT_INSTALL]),
    "child-pipe": ("InstallProgress",
                   [CHILD_ERROR, "test_silent_install.py::test_the_child_installers_answer_decides"
                    "_the_end"]),
    "silent": (None, ["test_startup.py::test_command_line_picks_the_mode_and_exit_code",
                      CHILD_ERROR, SILENT_INSTALL + "[workstation-win64-7]"]),
    "recovery": ("Journal", ["test_interrupted_install.py::test_a_journal_that_cannot_be_trusted"
                             "_is_refused",
                             "test_interrupted_install.py::test_a_rollback_stopped_in_the_middle_is"
                             "_finished_by_the_next_start"]),
    "wizard": ("progress_pages",
               ["test_wizard.py::test_the_keyboard_alone_installs_each_edition",
                "test_wizard.py::test_back_from_every_page_keeps_the_choices_and_the_memory_flat"]),
}

@dataclass
class Fault:
    name: str
    target: str
    description: str
    area: str
    tests: list[str]
    hunks: list[tuple[str, str]]
    why_missed: str = ""


@dataclass
class Outcome:
    fault: Fault
    result: str  # caught, missed, stale, build fails
    caught_by: str = ""
    stage: str = ""  # targeted or fallback
    seconds: float = 0.0
    note: str = ""


def parse_fault(path: Path) -> Fault:
    """Header lines "key: value" ("test:" may repeat), then pairs of blocks, "--- original"
    lines and "--- replacement" lines (format in tests/README.md)."""
    head, *blocks = re.split(r"^(--- original|--- replacement)\n", path.read_text("utf-8"),
                             flags=re.MULTILINE)
    header: dict[str, list[str]] = {}
    for line in head.split("\n"):
        if line.strip() and not line.startswith("#"):
            key, _, value = line.partition(":")
            header.setdefault(key.strip(), []).append(value.strip())
    # blocks alternates marker and text; blank lines at a block's end are only layout.
    markers, texts = blocks[0::2], [text.rstrip("\n ") for text in blocks[1::2]]
    if not markers or markers != ["--- original", "--- replacement"] * (len(markers) // 2):
        raise ValueError(f"{path.name}: needs --- original and --- replacement blocks in turn")
    if not all(texts[0::2]):
        raise ValueError(f"{path.name}: empty original text")
    for key in ("file", "description", "area", "test"):
        if key not in header:
            raise ValueError(f"{path.name}: no {key}:")
    area = header["area"][0]
    if area not in AREAS:
        raise ValueError(f"{path.name}: unknown area {area} (one of {', '.join(AREAS)})")
    return Fault(name=path.stem, target=header["file"][0], description=header["description"][0],
                 area=area, tests=header["test"], hunks=list(zip(texts[0::2], texts[1::2])),
                 why_missed=" ".join(header.get("missed", [])))


def load_faults() -> list[Fault]:
    return [parse_fault(path) for path in sorted((HERE / "faults").glob("*.fault"))]


def run(command: list[str], log, cwd: Path, env: dict | None = None,
        timeout: float = 3600) -> tuple[int, str]:
    """Runs a command, appends its output to the log; (status, output). A timeout is status
    -9 with what was printed so far."""
    log.write(f"\n$ {' '.join(command)}\n")
    log.flush()
    try:
        completed = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=timeout, check=False)
        output = completed.stdout.decode("utf-8", "replace")
        status = completed.returncode
    except subprocess.TimeoutExpired as expired:
        output = (expired.stdout or b"").decode("utf-8", "replace") + "\n[timed out]\n"
        status = -9
    log.write(output)
    log.flush()
    return status, output


class Scratch:
    """One scratch copy of the checkout with its own build trees."""

    def __init__(self, root: Path):
        self.root = root
        self.built: set[str] = set()  # trees built since the last change

    def refresh(self) -> None:
        """Makes the copy's sources those of the checkout's working tree; a file whose
        content is the same keeps its time, so the builds stay incremental."""
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others",
                                 "--exclude-standard"], cwd=CHECKOUT, check=True,
                                stdout=subprocess.PIPE).stdout.decode().split("\0")
        wanted = {name for name in listed if name and (CHECKOUT / name).is_file()}
        self.root.mkdir(parents=True, exist_ok=True)
        for name in wanted:
            source, copy = CHECKOUT / name, self.root / name
            data = source.read_bytes()
            if copy.is_file() and copy.read_bytes() == data:
                continue
            copy.parent.mkdir(parents=True, exist_ok=True)
            copy.write_bytes(data)
            shutil.copymode(source, copy)
        for folder, subfolders, files in os.walk(self.root):
            here = Path(folder)
            if here == self.root:
                subfolders[:] = [name for name in subfolders if name not in ("build", ".git")]
            subfolders[:] = [name for name in subfolders if name != "__pycache__"]
            for name in files:
                if (here / name).relative_to(self.root).as_posix() not in wanted:
                    (here / name).unlink()

    def build(self, tree: str, log) -> bool:
        if tree in self.built:
            return True
        # win32 packs its setup programs with native's corvane-pack.
        if tree == "win32" and not self.build("native", log):
            return False
        status, _ = run(["scripts/build.sh", tree], log, cwd=self.root)
        if status == 0:
            self.built.add(tree)
        return status == 0

    def destroy_prefix_copies(self, log) -> None:
        """Prefix copies the Windows tests keep between runs start afresh, so no fault's
        run sees what an earlier one left behind."""
        top = self.root / "build" / "win32"
        for folder, subfolders, files in os.walk(top):
            if ".corvane-copy-of" in files:
                subfolders[:] = []
                run([str(self.root / "scripts" / "wine-prefix"), "destroy", folder], log,
                    cwd=self.root)
            elif len(Path(folder).relative_to(top).parts) >= 4:
                subfolders[:] = []


def test_environment(scratch: Scratch) -> dict:
    env = dict(os.environ)
    env.pop("WINEPREFIX", None)
    env.pop("WINEARCH", None)
    env["CORVANE_WIN_BUILD"] = str(scratch.root / "build" / "win32")
    # The checkout's pristine prefixes serve every scratch copy.
    env["CORVANE_WINE_ROOT"] = os.environ.get("CORVANE_WINE_ROOT",
                                              str(CHECKOUT / "build" / "wine"))
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


def first_failure(kind: str, output: str) -> str:
    patterns = {
        "native": r"^\[  FAILED  \] (\S+)",
        # Names of parameterised cases may hold blanks.
        "ctest": r"^\s*\d+ - (.+?) \((?:Failed|Timeout|Not Run|SEGFAULT|Exception|"
                 r"Subprocess aborted|Child aborted)",
        "e2e": r"^(?:FAILED|ERROR) (\S.*?)(?: - .*)?$",
    }
    match = re.search(patterns[kind], output, re.MULTILINE)
    if match:
        # A parameterised case's name, without gtest's dump of its parameter.
        return match.group(1).split("  # GetParam()")[0]
    if "[timed out]" in output:
        return "(timed out)"
    return "(failed without naming a test)"


def run_native(scratch: Scratch, gtest_filter: str, log) -> str | None:
    """The native test programs with a gtest filter; the failing test's name, or None."""
    programs = sorted(path for path in (scratch.root / "build" / "native" / "tests").glob(
        "**/*_tests") if path.is_file() and os.access(path, os.X_OK))
    ran = 0
    for program in programs:
        status, output = run([str(program), f"--gtest_filter={gtest_filter}",
                              "--gtest_brief=1"], log, cwd=program.parent, timeout=600)
        if status != 0:
            return f"{program.name} {first_failure('native', output)}"
        counted = re.search(r"^\[==========\] (\d+) tests? from", output, re.MULTILINE)
        ran += int(counted.group(1)) if counted else 0
    return None if ran else f"(gtest filter {gtest_filter} matched no test)"


def run_ctest(scratch: Scratch, tree: str, regex: str | None, log, env: dict) -> str | None:
    directory = scratch.root / "build" / tree
    command = ["ctest", "--test-dir", str(directory), "--output-on-failure", "--timeout", "600",
               "--parallel", JOBS_PER_BUILD]
    if regex:
        command += ["-R", regex]
    if tree == "win32":
        scratch.destroy_prefix_copies(log)
    status, output = run(command, log, cwd=scratch.root, env=env, timeout=3600)
    if "No tests were found" in output:
        return f"(ctest -R {regex} matched no test)" if regex else None
    return f"{tree} ctest {first_failure('ctest', output)}" if status != 0 else None


def run_e2e(scratch: Scratch, nodes: list[str], log, env: dict, workers: int) -> str | None:
    command = [PYTHON, "-m", "pytest", "-q", "-rfE", "-x", "-p", "no:cacheprovider"]
    if workers > 1 and len(nodes) > 1:
        command += ["-n", str(workers)]
    status, output = run(command + nodes, log, cwd=scratch.root, env=env, timeout=5400)
    if status == 5:
        return f"(pytest found no test in {' '.join(nodes)})"
    return f"e2e {first_failure('e2e', output)}" if status != 0 else None


def run_test(scratch: Scratch, spec: str, log, env: dict, workers: int) -> tuple[str | None, bool]:
    """One "kind:argument" test of a fault: (what failed or None, whether it could be built)."""
    kind, _, argument = spec.partition(":")
    runners = {"native": lambda: run_native(scratch, argument, log),
               "win32": lambda: run_ctest(scratch, "win32", argument, log, env),
               "e2e": lambda: run_e2e(scratch, [argument], log, env, workers)}
    if kind not in runners:
        raise ValueError(f"unknown test kind in {spec!r} (native:, win32: or e2e:)")
    if not scratch.build("native" if kind == "native" else "win32", log):
        return None, False
    return runners[kind](), True


def apply(root: Path, fault: Fault) -> tuple[str, str | None, str]:
    """The target's text, its faulty text (None when the fault is stale) and why it is stale."""
    target = root / fault.target
    if not target.is_file():
        return "", None, f"{fault.target} does not exist"
    with open(target, encoding="utf-8", newline="") as file:
        pristine = text = file.read()
    for original, replacement in fault.hunks:
        count = text.count(original)
        if count != 1:
            first = original.strip().split("\n")[0][:60]
            return pristine, None, f"original text found {count} times: {first!r}"
        text = text.replace(original, replacement)
    return pristine, text, ""


def try_fault(scratch: Scratch, fault: Fault, full: bool | None, workers: int) -> Outcome:
    started = time.monotonic()
    logs = WORK / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    target = scratch.root / fault.target
    pristine, faulty, reason = apply(scratch.root, fault)
    if faulty is None:
        return Outcome(fault, "stale", note=reason)
    env = test_environment(scratch)
    with open(logs / f"{fault.name}.log", "w", encoding="utf-8") as log:
        try:
            with open(target, "w", encoding="utf-8", newline="") as file:
                file.write(faulty)
            scratch.built.clear()
            outcome = hunt(scratch, fault, log, env, full, workers)
        finally:
            with open(target, "w", encoding="utf-8", newline="") as file:
                file.write(pristine)
            # A tree built with the fault must rebuild the file; the new time sees to that.
            os.utime(target)
            scratch.built.clear()
    outcome.seconds = time.monotonic() - started
    return outcome


def hunt(scratch: Scratch, fault: Fault, log, env: dict, full: bool | None,
         workers: int) -> Outcome:
    """full: the whole suites as fallback; False: the area's; None: no fallback."""
    for spec in fault.tests:
        failed, built = run_test(scratch, spec, log, env, workers)
        if not built:
            return Outcome(fault, "build fails")
        if failed and not failed.startswith("("):
            return Outcome(fault, "caught", failed, "targeted")
        if failed:
            # A test name that matches nothing is the fault file's mistake, not a catch.
            return Outcome(fault, "stale", note=failed)
    if full is None:
        return Outcome(fault, "not caught by its own tests", note="no fallback run")
    # Fallback: every native test, then the area's (or every) Windows and end-to-end tests.
    regex, files = AREAS[fault.area]
    if not scratch.build("native", log) or not scratch.build("win32", log):
        return Outcome(fault, "build fails")
    failed = run_ctest(scratch, "native", None, log, env)
    if not failed and (full or regex):
        failed = run_ctest(scratch, "win32", None if full else regex, log, env)
        if failed and failed.startswith("("):
            failed = None
    if not failed:
        nodes = ["tests/e2e"] if full else [f"tests/e2e/{name}" for name in files]
        failed = run_e2e(scratch, nodes, log, env, workers)
    if failed:
        return Outcome(fault, "caught", failed, "fallback")
    suites = "the whole suites" if full else "the native tests, " + (
        f"ctest -R '{regex}', " if regex else "") + f"{len(files)} e2e node ids"
    return Outcome(fault, "missed", note=f"fallback: {suites}")


def row(outcome: Outcome) -> str:
    fault, result, detail = outcome.fault, outcome.result, outcome.note
    if result == "caught":
        result, detail = f"caught ({outcome.stage})", outcome.caught_by
    elif result == "missed":
        detail = fault.why_missed or detail
    detail = detail.replace("|", "\\|")
    return f"| {fault.name} | {fault.area} | {result} | {detail} | {outcome.seconds:.0f} |"


TABLE_HEAD = ("| fault | area | result | caught by / why | s |\n"
              "|---|---|---|---|---|")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", nargs="+", metavar="NAME", help="only these faults")
    parser.add_argument("--list", "--check", action="store_true",
                        help="list the faults, check that each still applies, and stop")
    parser.add_argument("--full", action="store_true",
                        help="fall back to every Windows and end-to-end test, not the area's")
    parser.add_argument("--targeted-only", action="store_true",
                        help="run only each fault's own tests, no fallback (a quick check)")
    arguments = parser.parse_args()

    faults = load_faults()
    if arguments.only:
        unknown = set(arguments.only) - {fault.name for fault in faults}
        if unknown:
            parser.error(f"no such fault: {', '.join(sorted(unknown))}")
        # In the order given: the faults most worth knowing about can go first.
        by_name = {fault.name: fault for fault in faults}
        faults = [by_name[name] for name in dict.fromkeys(arguments.only)]
    if arguments.list:
        stale = [fault for fault in faults if apply(CHECKOUT, fault)[1] is None]
        for fault in faults:
            print(f"{fault.name:40} {fault.area:13} {fault.description}")
        for fault in stale:
            print(f"{fault.name}: stale: {apply(CHECKOUT, fault)[2]}")
        print(f"{len(faults) - len(stale)} of {len(faults)} faults apply")
        return 1 if stale else 0
    if "DISPLAY" not in os.environ and shutil.which("xvfb-run"):
        # The wizard and window tests need a display: a private X server for the whole run.
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24 -nolisten tcp",
                               sys.executable, *sys.argv])

    WORK.mkdir(parents=True, exist_ok=True)
    mode = subprocess.run([str(CHECKOUT / "scripts" / "x86-32-mode")], stdout=subprocess.PIPE,
                          check=False).stdout.decode().strip() or "unknown"
    os.environ["CORVANE_X86_32_MODE"] = mode
    scratch = Scratch(WORK / "repo")
    outcomes: dict[str, Outcome] = {}
    results = WORK / "results.md"
    started = time.monotonic()

    # The table keeps the rows of earlier runs, so a run of some faults updates their rows.
    stored = WORK / "results.json"
    rows: dict[str, str] = json.loads(stored.read_text()) if stored.exists() else {}

    def write_results() -> None:
        rows.update({name: row(outcome) for name, outcome in outcomes.items()})
        stored.write_text(json.dumps(rows, indent=1), encoding="utf-8")
        known = [rows[fault.name] for fault in load_faults() if fault.name in rows]
        results.write_text("\n".join([TABLE_HEAD] + known) + "\n", encoding="utf-8")

    print(f"=== refreshing and building {scratch.root}", flush=True)
    scratch.refresh()
    with open(WORK / "logs-initial-build.log", "a", encoding="utf-8") as log:
        trees = ("native", "win64", "win32")
        if arguments.targeted_only and all(
                test.startswith("native:") for fault in faults for test in fault.tests):
            trees = ("native",)
        for tree in trees:
            if run(["scripts/build.sh", tree], log, cwd=scratch.root)[0] != 0:
                print(f"the unchanged copy does not build ({tree}): see {log.name}")
                return 2
    # Otherwise the cheap ones first: native tests need no Windows build.
    kinds = {"native": 0, "win32": 1, "e2e": 2}
    order = faults if arguments.only else sorted(
        faults, key=lambda fault: (kinds.get(fault.tests[0].split(":")[0], 3), fault.name))
    for fault in order:
        # An interruption lands in try_fault, which puts the file back first.
        print(f"--- {fault.name}: {fault.description}", flush=True)
        fallback = None if arguments.targeted_only else arguments.full
        outcomes[fault.name] = try_fault(scratch, fault, fallback, E2E_WORKERS)
        write_results()
        print(row(outcomes[fault.name]), flush=True)
    counts = collections.Counter(outcome.result for outcome in outcomes.values())
    print(f"\n{len(outcomes)} faults in {(time.monotonic() - started) / 60:.0f} min: " +
          ", ".join(f"{count} {result}" for result, count in sorted(counts.items())) +
          f" ({mode} 32-bit x86 execution); table in {results}")
    return 0 if not any(o.result in ("build fails", "stale") for o in outcomes.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
