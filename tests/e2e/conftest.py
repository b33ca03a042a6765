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
    config.addinivalue_line("markers", "windows_version(name): the Windows version the prefix "
                            "reports (a name of winehost.WINDOWS_VERSIONS)")


def pytest_sessionstart(session):
    """Prefixes of runs that were killed stay behind (about 30 MB each); those older than a
    day go. Younger ones may belong to a run still going on in the same tree."""
    for folder in (WINE_ROOT / "tests").glob("*"):
        try:
            old = time.time() - folder.stat().st_mtime > 24 * 3600
        except FileNotFoundError:  # another worker of this run was quicker
            continue
        if old:
            if (folder / "prefix" / ".corvane-copy-of").exists():
                subprocess.run([str(WINE_PREFIX_TOOL), "destroy", str(folder / "prefix")])
            shutil.rmtree(folder, ignore_errors=True)


@pytest.hookimpl(hookwrapper=True, tryfirst=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
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
    if not (WIN_BUILD / "tests" / "harness" / "winrun.exe").exists():
        pytest.fail(f"no Windows build in {WIN_BUILD}: run scripts/build.sh first")
    return WIN_BUILD


def _prefix(request, arch: str, display):
    """A prefix of the test's own; parametrised indirectly with "win64", "win32" or {"arch":
    ..., "version": ...}, or marked with windows_version."""
    parameter = getattr(request, "param", None) or {}
    parameter = {"arch": parameter} if isinstance(parameter, str) else parameter
    arch = parameter.get("arch", arch)
    marker = request.node.get_closest_marker("windows_version")
    version = marker.args[0] if marker else parameter.get("version")
    prefix = Prefix.create(unique_prefix_path(request.node.name), arch, display)
    try:
        if version:
            prefix.set_windows_version(version)
        yield prefix
    finally:
        report = getattr(request.node, "corvane_report_call", None)
        if (report is None or report.failed) and os.environ.get("CORVANE_KEEP_PREFIX") == "1":
            prefix.kill()
            print(f"\nkept the prefix of {request.node.nodeid}: {prefix.path}")
        else:
            prefix.destroy()
        complaint = check_pristine(arch)
        if complaint:
            pytest.fail(f"{request.node.nodeid} changed the pristine prefix:\n{complaint}")


@pytest.fixture
def wine_prefix(request, display, win_build):
    yield from _prefix(request, "win64", display)


@pytest.fixture
def wine_prefix32(request, display, win_build):
    yield from _prefix(request, "win32", display)


@pytest.fixture
def fault_outcomes(request):
    """fault_outcomes(row): a dict of column -> text about a case the test ran; the rows go
    with the test's report (so they also come back from the workers of a parallel run) and are
    printed as one table per set of columns at the end of the run."""
    return lambda row: request.node.user_properties.append(("fault_outcome", row))


def pytest_terminal_summary(terminalreporter, exitstatus, config):
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
