"""Installations that do not end the normal way: the setup killed right after each of its
journal records, a rollback (and the recovery that finishes it) ended in the middle, the whole
prefix stopped (as by a power cut) while the child installer runs, exceptions and faults
inside the install worker and inside one rollback step, a child installer whose progress runs
past the end of the scale, journals that must not be trusted. Each time the machine must end
as it was before (or, after the commit, with the product installed), the user's files byte for
byte. The stops and faults come from the test build of the setup programs (README.md)."""

from __future__ import annotations

import struct
import time
import zlib

import pytest

from test_install_journal import pending_renames
from test_silent_install import (INSTALL_TIMEOUT, PRODUCT, ROLLBACK_NOISE, SILENT,
                                 UNINSTALL_KEY, in_order, install_folder, install_log,
                                 payload_entry)
from test_startup import QUICK, log_lines, setup_program, test_setup_program, work_log
from test_wizard import IDOK, LAUNCH, NEXT, Wizard, walk_to_ready
from winehost import wait_until

JOURNAL_FOLDER = "C:\\windows\\Corvane Setup Journal"
# Files of the user's in the install folder before the installation: one the payload
# overwrites, one it knows nothing of.
USER_FILES = {"readme.txt": b"the user's own readme\r\n\x00\xff",
              "settings.ini": b"[user]\r\nkept=1\r\n"}
# Silent runs here test what happens, not how it looks: the steps' pacing waits are left out.
NO_WAITS = {"CORVANE_TEST_NO_WAITS": "1"}
PROGRESS_BAR = 1029
FINISH_TITLE = 1001

# Kinds of journal record the tests wait for.
ROLLBACK_STARTED, COMMITTED, CHILD_STARTING = 12, 13, 19


def journal_path(edition: str) -> str:
    return f"{JOURNAL_FOLDER}\\corvane-rdp-{edition}-setup.journal"


def encode_record(kind: int, *fields: bytes) -> bytes:
    body = struct.pack("<HHH", kind, 0, len(fields)) + b"".join(
        struct.pack("<I", len(field)) + field for field in fields)
    head = struct.pack("<I", len(body)) + body
    return head + struct.pack("<I", zlib.crc32(head))


def journal_kinds(data: bytes) -> list[int]:
    """The kind of each whole record of a journal file."""
    assert data[:8] == b"CVJRNL\r\n", data[:16]
    offset, kinds = 12, []
    while offset + 4 <= len(data):
        size, kind = struct.unpack_from("<IH", data, offset)
        kinds.append(kind)
        offset += size + 8
    return kinds


def logged(log, text: str) -> bool:
    return log.exists() and text in log.read_text("latin-1", errors="replace")


def put_user_files(prefix, edition: str) -> None:
    for name, data in USER_FILES.items():
        prefix.write_file(f"{install_folder(edition)}\\{name}", data)


def left_behind(prefix, before, ignore: tuple = ()) -> str:
    """What the machine holds beyond what it held before, bar the setup log and the RunOnce
    key (the only traces a failed installation may leave here: no file is in use)."""
    return prefix.snapshot().diff(before, ignore=[*ROLLBACK_NOISE, *ignore])


def start_again(prefix, edition: str) -> list[str]:
    """Starts the setup program again (it recovers first, then refuses the silent install
    for want of -licenseaccept) and returns that run's log."""
    result = prefix.run(setup_program(edition), ["-silent"], timeout=QUICK)
    assert result.exit_code == -7, result
    return log_lines(work_log(prefix, edition))


# What the test build's setup ends with when its hook ends it at once (TerminateProcess).
KILLED = 0xDEAD
# Every stop is checked live (no wineserver restart); every FULL_CHECK-th also against a whole
# snapshot of files and registry (a change left behind stays, so a later full check sees it).
FULL_CHECK = 4


def live_state(prefix, edition: str) -> tuple:
    """Cheap to take while the prefix runs: the files under drive_c, the uninstall key (the
    only key the installation writes) and the restart-time operations."""
    files = prefix.snapshot(registry=False)
    registry = (prefix.reg_values(UNINSTALL_KEY + PRODUCT[edition]["code"], view=32),
                pending_renames(prefix))
    return files, registry


def stop_after_record(prefix, program, k: int, check_recovery) -> None:
    """Runs a silent installation that the test build ends at once right after its k-th
    journal record (no destructor, no rollback: as a kill or a power cut). When it starts with
    a journal to recover, it holds once that is done and `check_recovery()` looks at the
    machine first."""
    hold = prefix.scratch / "recovered"
    hold.unlink(missing_ok=True)
    running = prefix.start(program, SILENT, timeout=INSTALL_TIMEOUT, env={
        "CORVANE_TEST_HOOK": f"record:{k}:exit", **NO_WAITS,
        "CORVANE_TEST_HOLD_AFTER_RECOVERY": prefix.windows_path(hold)})
    if check_recovery is not None:  # (a setup left held ends with the prefix)
        wait_until(hold.exists, "end of the recovery", INSTALL_TIMEOUT, running, pause=0.05)
        check_recovery()
        hold.unlink()
    ended = running.wait()
    assert ended.exit_code == KILLED, f"the installation ended before record {k}:\n{ended}"


# The setup is stopped right after its k-th journal record, for every k, and started again.
# One prefix serves every k: the start that recovers from the stop after record k is held
# once it has recovered, the machine is compared with the one before the first run, and then
# it installs again until record k + 1. (Stopping the whole prefix instead, with wineserver
# -k, costs a restart of Wine's services each time; the rollback test below does that.)
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_setup_stopped_after_any_journal_record_is_undone_by_the_next_start(
        wine_prefix, edition, record_property):
    program = test_setup_program(edition)
    put_user_files(wine_prefix, edition)
    before = wine_prefix.snapshot()
    before_live = live_state(wine_prefix, edition)
    wine_prefix.scratch.mkdir(parents=True, exist_ok=True)
    stopped: list = []  # the journal left by the last stop

    def check_recovery(full: bool = False) -> None:
        k = len(stopped)
        lines = log_lines(work_log(wine_prefix, edition))
        assert in_order(lines, ["=== Recovery process ===",
                                "Recovery: rolling back an interrupted installation",
                                "=== Recovery finished ==="]) == [], "\n".join(lines)
        if full:
            changes = left_behind(wine_prefix, before)
        else:
            files, registry = live_state(wine_prefix, edition)
            changes = files.diff(before_live[0], ignore=ROLLBACK_NOISE) + (
                f"\nregistry: {before_live[1]!r}\n  -> {registry!r}"
                if registry != before_live[1] else "")
        record_property("fault_outcome", {
            "edition": edition, "k": k, "last record": stopped[-1],
            "outcome": "rolled back" if not changes else "LEFT CHANGES",
            "checked": "whole machine" if full else "files, uninstall key"})
        assert not changes, f"after record {k} ({stopped[-1]}):\n{changes}"

    stops = 0
    while not stopped or stopped[-1] != COMMITTED:
        # The next stop comes at the flush that writes the next record (a flush may write
        # several: the creations of a whole step).
        k = len(stopped) + 1
        stops += 1
        if stops > 1 and (stops - 1) % FULL_CHECK == 0:
            # The shipped program recovers, and the whole machine is compared (which stops the
            # prefix: no setup may be held meanwhile).
            start_again(wine_prefix, edition)
            check_recovery(full=True)
            stop_after_record(wine_prefix, program, k, None)
        else:
            stop_after_record(wine_prefix, program, k, check_recovery if k > 1 else None)
        stopped = journal_kinds(wine_prefix.read_file(journal_path(edition)))
        assert len(stopped) >= k, stopped
    # The stop came after the commit record: every step was done, and the next start only
    # finishes the commit.
    lines = start_again(wine_prefix, edition)
    assert "Recovery: the installation was complete, its backups are removed" in lines
    folder = install_folder(edition)
    assert wine_prefix.read_file(f"{folder}\\readme.txt") == payload_entry(edition, "readme.txt")
    assert wine_prefix.read_file(f"{folder}\\settings.ini") == USER_FILES["settings.ini"]
    assert wine_prefix.exists(f"{folder}\\{PRODUCT[edition]['main']}")
    assert not [p.name for p in wine_prefix.host_path(folder).iterdir() if p.suffix == ".tmp"]
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT[edition]["code"], view=32)
    assert not wine_prefix.exists(JOURNAL_FOLDER)
    record_property("fault_outcome", {"edition": edition, "k": k, "last record": stopped[-1],
                                      "outcome": "completed", "checked": "installed, backups gone"})
    assert len(stopped) > 20, "too few records for a whole installation"


# The prefix is stopped while the child installer runs, once it has installed its parts and
# works on: the journal holds only the facts from before the child, and the next start undoes
# what differs.
def test_a_setup_stopped_while_the_child_runs_has_its_changes_undone_by_the_next_start(
        wine_prefix):
    put_user_files(wine_prefix, "workstation")
    before = wine_prefix.snapshot()
    child = PRODUCT["workstation"]["child"]
    # The running installation writes its log in the work folder.
    log = work_log(wine_prefix, "workstation")
    running = wine_prefix.start(test_setup_program("workstation"), SILENT,
                                timeout=INSTALL_TIMEOUT,
                                env={"CORVANE_CHILD_MODE": "long", "CORVANE_CHILD_SECONDS": "60",
                                     **NO_WAITS})
    wait_until(lambda: logged(log, f"{child}: running for 60 seconds"), "long wait of the child",
               INSTALL_TIMEOUT, running)
    wine_prefix.kill()
    running.process.wait(timeout=60)
    records = journal_kinds(wine_prefix.read_file(journal_path("workstation")))
    assert records[-1] == CHILD_STARTING, records

    lines = start_again(wine_prefix, "workstation")

    assert "Recovery: the child installer was running; its changes are looked for" in lines, \
        "\n".join(lines)
    assert any(line.startswith("Record DriverStore INF: ") for line in lines), "\n".join(lines)
    assert not (changes := left_behind(wine_prefix, before)), changes


# A rollback (after the child installer failed) is ended in the middle of its journal; the
# next start finishes it. Ended after the first undo action, one among the created files,
# and the one that puts the user's readme back (the created files go first, then the
# backups). After 8, the recovery that finishes the rollback is ended too.
def test_a_rollback_stopped_in_the_middle_is_finished_by_the_next_start(wine_prefix):
    put_user_files(wine_prefix, "workstation")
    before = wine_prefix.snapshot()

    def end_at(hook: str, child_mode: str | None = None) -> None:
        ended = wine_prefix.run(test_setup_program("workstation"), SILENT, env={
            "CORVANE_TEST_HOOK": hook, "CORVANE_CHILD_MODE": child_mode, **NO_WAITS},
            timeout=INSTALL_TIMEOUT)
        assert ended.exit_code == KILLED, ended

    for n in (1, 8, 15):
        end_at(f"undo:{n}:exit", "error")
        records = journal_kinds(wine_prefix.read_file(journal_path("workstation")))
        assert records[-1] == ROLLBACK_STARTED, records
        if n == 8:
            end_at("undo:3:exit")
        lines = start_again(wine_prefix, "workstation")
        assert "Recovery: finishing the rollback of an interrupted installation" in lines, \
            "\n".join(lines)
        assert not (changes := left_behind(wine_prefix, before)), f"undo {n}: {changes}"


# A C++ exception, running out of memory and a fault, each at another point of the install
# worker (the payload files' announcement, after the readme's overwrite record, the
# shortcuts' announcement after the child and the Citrix registration), roll the installation
# back. Out of memory or a fault inside one undo action stops that rollback step only: it is
# logged, the later steps still run (the user's readme comes back), the journal stays, and
# the next start finishes what was left. Each run ends with -10, then the machine as before.
FAILURES = {
    "record:2:throw": "Error during installation.\nError code = 0x0000054f\n"
                      "Error arg0 = 0x100006a6",
    "record:19:oom": "Error during installation.\nError code = 0x00000008\n"
                     "Error arg0 = 0x100006a5",
    "record:32:fault": "Exception during installation!\nException code = 0x",
    "undo:8:oom": "Warning: rollback step stopped, out of memory: RemoveInstallFiles",
    "undo:8:fault": "Warning: rollback step stopped by an exception: RemoveInstallFiles",
}


@pytest.mark.parametrize("hook", FAILURES)
def test_an_exception_or_fault_in_the_install_or_a_rollback_step_ends_as_before(wine_prefix,
                                                                               hook):
    put_user_files(wine_prefix, "workstation")
    before = wine_prefix.snapshot()
    in_rollback = hook.startswith("undo:")
    result = wine_prefix.run(test_setup_program("workstation"), SILENT, timeout=INSTALL_TIMEOUT,
                             env={"CORVANE_TEST_HOOK": hook, **NO_WAITS,
                                  "CORVANE_CHILD_MODE": "error" if in_rollback else None})
    assert result.exit_code == -10, result
    lines = log_lines(work_log(wine_prefix, "workstation"))
    assert "Create Firewall rules" not in lines
    if in_rollback:
        assert FAILURES[hook] in lines, "\n".join(lines)
        assert "RollBackInstallFiles" not in " ".join(l for l in lines if l.startswith("Warning"))
        assert wine_prefix.read_file(f"{install_folder('workstation')}\\readme.txt") == \
            USER_FILES["readme.txt"]
        assert wine_prefix.exists(journal_path("workstation"))
        lines = start_again(wine_prefix, "workstation")
        assert "Recovery: finishing the rollback of an interrupted installation" in lines
    else:
        failure = lines[lines.index("=== Rollback process ===") - 1]
        assert failure.startswith(FAILURES[hook]), "\n".join(lines)
    assert not (changes := left_behind(wine_prefix, before)), changes


# The wizard's install worker goes the same way out as the silent path's: a fault there ends
# on the failure page.
@pytest.mark.usefixtures("display")
def test_a_fault_in_the_wizards_install_ends_on_the_failure_page(wine_prefix):
    put_user_files(wine_prefix, "workstation")
    before = wine_prefix.snapshot()
    with Wizard(wine_prefix, program=test_setup_program("workstation"),
                env={"CORVANE_TEST_HOOK": "record:19:fault"}) as wizard:
        wizard.prefix.press(walk_to_ready(wizard), NEXT)  # "Install"
        box = wizard.message_box(timeout=120)
        assert "Exception during installation!" in " ".join(box.texts), box.texts
        wine_prefix.press(box, IDOK)
        finish = wizard.page(LAUNCH, visible=False, timeout=120)
        title = finish.control(id=FINISH_TITLE).text
        assert title.startswith("Setup Wizard did not complete the installation"), title
        assert not finish.control(id=LAUNCH).visible
        wine_prefix.close_window(finish)
        # Where the log was left, said once the run ends.
        wine_prefix.press(wizard.message_box(), IDOK)
        result = wizard.wait()
    assert result.exit_code == -10, result
    # The Wizard driver's stand-ins (the browser, a canary) are no trace of the installation.
    changes = left_behind(wine_prefix, before, ignore=(r"^c:\\(recorder|program\.exe)",
                                                     r"\\https(\\|$)"))
    assert not changes, changes


# The child reports goal 100, then 150, then works on for 16 seconds, longer than the bar
# takes to walk to its end (one percent per 150 ms): the Progress page stays until the install
# is really done, and no thread is ever terminated.
@pytest.mark.usefixtures("display")
def test_a_child_progress_past_the_end_does_not_end_the_wizards_install(wine_prefix):
    child = PRODUCT["workstation"]["child"]
    with Wizard(wine_prefix, env={"CORVANE_CHILD_MODE": "overshoot",
                                  "CORVANE_CHILD_SECONDS": "16"}) as wizard:
        wizard.prefix.press(walk_to_ready(wizard), NEXT)
        log = work_log(wine_prefix)
        wait_until(lambda: logged(log, f"{child}: record 1,150,2,0"), "goal 150", 120)
        # As long as the child works, the Progress page must be there.
        watched = time.monotonic()
        while not logged(log, f"{child}: finished"):
            wizard.page(PROGRESS_BAR, timeout=1)
            time.sleep(0.5)
        assert time.monotonic() - watched > 12, "the child ended before the bar could"
        finish = wizard.page(LAUNCH, timeout=120)
        assert finish.control(id=FINISH_TITLE).text.startswith("Completing")
        wine_prefix.close_window(finish)
        result = wizard.wait()
    assert result.exit_code == 0, result
    lines = install_log(wine_prefix, "workstation")
    assert f"{child}: finished, exit code 0" in lines
    assert "Terminate install thread!" not in lines
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


# A journal that is damaged or names places outside the installation is refused: nothing is
# deleted or restored on its word, and it is set aside so that it blocks nothing.
@pytest.mark.parametrize("case", ["outside", "damaged"])
def test_a_journal_that_cannot_be_trusted_is_refused(wine_prefix, case):
    code = PRODUCT["workstation"]["code"].encode()
    folder = install_folder("workstation").encode()
    victim = "C:\\users\\Public\\important.txt"
    wine_prefix.write_file(victim, b"keep me\r\n")
    wine_prefix.write_file(f"{install_folder('workstation')}\\corvanews.exe", b"an old program")
    begin = encode_record(1, code, folder, b"", b"", b"")
    records = [begin, encode_record(3, victim.encode()),
               encode_record(3, folder + b"\\corvanews.exe")]
    if case == "damaged":
        records = [begin, encode_record(3, folder + b"\\corvanews.exe"), records[2]]
        records[1] = records[1][:-9] + bytes([records[1][-9] ^ 0x20]) + records[1][-8:]
    data = b"CVJRNL\r\n" + struct.pack("<I", 1) + b"".join(records)
    wine_prefix.write_file(journal_path("workstation"), data)

    lines = start_again(wine_prefix, "workstation")

    refusal = next((line for line in lines if line.startswith("Error: journal refused")), None)
    assert refusal is not None, "\n".join(lines)
    expected = ("file outside the installation: " + victim if case == "outside"
                else "damaged record at byte")
    assert expected in refusal, refusal
    assert wine_prefix.read_file(victim) == b"keep me\r\n"
    assert wine_prefix.read_file(f"{install_folder('workstation')}\\corvanews.exe") == \
        b"an old program"
    assert not wine_prefix.exists(journal_path("workstation"))
    assert wine_prefix.read_file(journal_path("workstation") + ".refused") == data
