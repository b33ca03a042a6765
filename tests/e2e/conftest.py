"""Fixtures for end-to-end tests: real Windows programs in throw-away Wine prefixes (see
README.md). Each test gets its own copy of the pristine prefix, its own wineserver and the
session's private X server; afterwards the copy is deleted and the pristine prefix is checked
to be unchanged. CORVANE_KEEP_PREFIX=1 keeps the prefix of a failed test."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from winehost import (WIN_BUILD, WINE_PREFIX_TOOL, WINE_ROOT, Prefix,  # noqa: E402
                      check_pristine, start_xvfb, unique_prefix_path)


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "windows_version(name): the Windows version the prefix reports "
        "(nt40, win2k, winxp, win2003, vista, win2008, win7, win2008r2, win8, win81, win10)")


def pytest_sessionstart(session):
    """Prefixes of runs that were killed stay behind (about 30 MB each); those older than a
    day go. Younger ones may belong to a run still going on in the same tree."""
    tests = WINE_ROOT / "tests"
    if not tests.is_dir():
        return
    for folder in tests.iterdir():
        try:
            if time.time() - folder.stat().st_mtime < 24 * 3600:
                continue
        except FileNotFoundError:
            continue
        prefix = folder / "prefix"
        if (prefix / ".corvane-copy-of").exists():
            subprocess.run([str(WINE_PREFIX_TOOL), "destroy", str(prefix)], check=False)
        shutil.rmtree(folder, ignore_errors=True)


@pytest.hookimpl(hookwrapper=True, tryfirst=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"corvane_report_{report.when}", report)


@pytest.fixture(scope="session")
def display():
    """DISPLAY of a private Xvfb shared by the session; None when Xvfb is not installed."""
    if shutil.which("Xvfb") is None:
        yield None
        return
    process, name = start_xvfb()
    yield name
    process.terminate()
    process.wait()


@pytest.fixture(scope="session")
def win_build() -> Path:
    """The cross build tree holding the Windows programs (CORVANE_WIN_BUILD)."""
    if not (WIN_BUILD / "tests" / "harness" / "winrun.exe").exists():
        pytest.fail(f"no Windows build in {WIN_BUILD}: run scripts/build.sh first")
    return WIN_BUILD


def _prefix(request, arch: str, display, win_build):
    version = None
    parameter = getattr(request, "param", None)
    if isinstance(parameter, str):
        arch = parameter
    elif isinstance(parameter, dict):
        arch = parameter.get("arch", arch)
        version = parameter.get("version")
    marker = request.node.get_closest_marker("windows_version")
    if marker:
        version = marker.args[0]

    prefix = Prefix.create(unique_prefix_path(request.node.name), arch, display)
    try:
        if version:
            prefix.set_windows_version(version)
        yield prefix
    finally:
        report = getattr(request.node, "corvane_report_call", None)
        failed = report is None or report.failed
        if failed and os.environ.get("CORVANE_KEEP_PREFIX") == "1":
            prefix.kill()
            print(f"\nkept the prefix of {request.node.nodeid}: {prefix.path}")
        else:
            prefix.destroy()
        complaint = check_pristine(arch)
        if complaint:
            pytest.fail(f"{request.node.nodeid} changed the pristine prefix:\n{complaint}")


@pytest.fixture
def wine_prefix(request, display, win_build):
    """A 64-bit prefix of the test's own; parametrise indirectly with "win64", "win32" or
    {"arch": ..., "version": ...}."""
    yield from _prefix(request, "win64", display, win_build)


@pytest.fixture
def wine_prefix32(request, display, win_build):
    """A 32-bit prefix (WINEARCH=win32) of the test's own."""
    yield from _prefix(request, "win32", display, win_build)


class _FaultOutcomes:
    """Rows go with the test's report, so they reach the end of the run also from the worker
    processes of a parallel run."""

    def __init__(self, node):
        self._node = node

    def append(self, row: dict) -> None:
        self._node.user_properties.append(("fault_outcome", row))


@pytest.fixture
def fault_outcomes(request) -> _FaultOutcomes:
    """Rows (dicts of column -> text) a test records about a case it ran; they are printed as
    one table per set of columns at the end of the run."""
    return _FaultOutcomes(request.node)


def pytest_terminal_summary(terminalreporter, exitstatus, config):
    tables: dict[tuple, list[dict]] = {}
    for report in (r for reports in terminalreporter.stats.values() for r in reports):
        if getattr(report, "when", None) == "call":
            for key, row in getattr(report, "user_properties", ()):
                if key == "fault_outcome":
                    tables.setdefault(tuple(row), []).append(row)
    if tables:
        terminalreporter.section("fault cases")
    for columns, table in tables.items():
        table.insert(0, dict(zip(columns, columns)))
        widths = [max(len(str(row.get(column, ""))) for row in table) for column in columns]
        for row in table:
            terminalreporter.write_line("  ".join(
                str(row.get(column, "")).ljust(width)
                for column, width in zip(columns, widths)).rstrip())
        terminalreporter.write_line("")
