"""Fixtures for end-to-end tests: real Windows programs in throw-away Wine prefixes (see
README.md). Each test gets its own copy of the pristine prefix, its own wineserver and the
session's private X server; afterwards the copy is deleted and the pristine prefix is checked
to be unchanged. CORVANE_KEEP_PREFIX=1 keeps the prefix of a failed test."""

from __future__ import annotations

import contextlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from winehost import (WIN_BUILD, WINE_PREFIX_TOOL, WINE_ROOT, Prefix,  # noqa: E402
                      harness_program, start_xvfb, unique_prefix_path)


def pytest_sessionstart(session):
    """Prefixes of runs that were killed stay behind (about 30 MB each); those older than a
    day go. Younger ones may belong to a run still going on in the same tree."""
    for folder in (WINE_ROOT / "tests").glob("*"):
        with contextlib.suppress(FileNotFoundError):  # another worker of this run was quicker
            if time.time() - folder.stat().st_mtime > 24 * 3600:
                subprocess.run([str(WINE_PREFIX_TOOL), "destroy", str(folder / "prefix")])
                shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def display():
    """DISPLAY of a private Xvfb shared by the session."""
    process, name = start_xvfb()
    yield name
    process.terminate()
    process.wait()


@pytest.fixture(scope="session")
def win_build() -> Path:
    harness_program("winrun.exe")  # says what to build when nothing is
    return WIN_BUILD


def _prefix(request, arch: str, display):
    """A prefix of the test's own; parametrised indirectly with {"arch": ..., "version": ...}
    (a name of winehost.WINDOWS_VERSIONS)."""
    parameter = getattr(request, "param", {})
    arch = parameter.get("arch", arch)
    failures = request.session.testsfailed
    prefix = Prefix.create(unique_prefix_path(request.node.name), arch, display)
    try:
        if "version" in parameter:
            prefix.set_windows_version(parameter["version"])
        yield prefix
    finally:
        if request.session.testsfailed > failures and os.environ.get("CORVANE_KEEP_PREFIX") == "1":
            prefix.kill()
            print(f"\nkept the prefix of {request.node.nodeid}: {prefix.path}")
        else:
            prefix.destroy()
        check = subprocess.run([str(WINE_PREFIX_TOOL), "check", "--arch", arch],
                               capture_output=True, text=True)
        if check.returncode:
            pytest.fail(f"{request.node.nodeid} changed the pristine prefix:\n{check.stderr}")


@pytest.fixture
def wine_prefix(request, display, win_build):
    yield from _prefix(request, "win64", display)


@pytest.fixture
def wine_prefix32(request, display, win_build):
    yield from _prefix(request, "win32", display)


def pytest_terminal_summary(terminalreporter, exitstatus, config):
    """The rows a test recorded with record_property("fault_outcome", {column: text}), which
    also come back from the workers of a parallel run, as one table per set of columns."""
    tables: dict[tuple, list[dict]] = {}
    for report in (r for reports in terminalreporter.stats.values() for r in reports):
        if getattr(report, "when", None) == "call":
            for key, row in getattr(report, "user_properties", ()):
                if key == "fault_outcome":
                    tables.setdefault(tuple(row), [dict(zip(row, row))]).append(row)
    if tables:
        terminalreporter.section("fault cases")
    for columns, table in tables.items():
        widths = [max(len(str(row.get(column, ""))) for row in table) for column in columns]
        for row in table:
            terminalreporter.write_line("  ".join(
                str(row.get(column, "")).ljust(width)
                for column, width in zip(columns, widths)).rstrip())
        terminalreporter.write_line("")
