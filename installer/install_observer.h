// Points of an installation that an observer in the same process may watch:
// each journal record on disk, each step of a rollback, the start of the
// install worker, the end of a recovery. The shipped setup programs install no observer; the test
// builds install one that stops, fails or faults at a chosen point, so that
// tests can cut an installation off exactly where they want.
#pragma once

#include <cstdint>

enum class InstallEvent {
    kWorkerStarted,        // number 0
    kJournalOpening,       // number 0; returning false keeps the journal in memory only
    kJournalRecordWritten, // number: records on disk so far, after each flush (one flush may
                           // write several records)
    kRollbackActionDone,   // number: undo actions done so far in this process, from 1
    kPause,                // number: milliseconds of a paced wait; returning false skips it
    kRecoveryDone,         // number 0; a journal found at the start was dealt with
};

// Returns true to go on; only kJournalOpening and kPause look at the result. It may
// throw or never return, as the observed code must survive either.
using InstallObserver = bool (*)(InstallEvent event, uint32_t number);

void SetInstallObserver(InstallObserver observer);
// True when no observer is set.
bool NotifyInstallObserver(InstallEvent event, uint32_t number);
