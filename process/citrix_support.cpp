// The Citrix-support step: the workstation's second installer program,
// started once to register the Citrix client library and, on rollback, once
// to unregister it. It tells the setup about a needed restart through a named
// global event.
#include "install_process.h"

#include "product_profile.h"

#include <string>

namespace {

// Longer than the Citrix-support installer ever needs; past it the program is
// taken to hang.
constexpr DWORD kCitrixSupportTimeLimit = 25000;

} // namespace

void CInstallProcess::RegisterCitrixSupport(bool registerSupport) {
    RunCitrixSupportInstaller(m_pChoices->m_strInstallDir, registerSupport);
}

void CInstallProcess::RunCitrixSupportInstaller(const std::string& installDir,
                                                bool registerSupport) {
    const ProductProfile& profile = CurrentProfile();
    if (installDir.empty() || profile.citrixSupportInstaller == nullptr) {
        return;
    }
    const std::string program = installDir + "\\" + profile.citrixSupportInstaller;
    if (registerSupport) {
        // The registration is this run's own only when the program is one
        // this run put in place. Over an earlier installation it was there
        // before; taking it away on rollback would leave the restored earlier
        // installation without it.
        const auto created = GetJournalEntries().find(program);
        m_bUnregisterCitrixOnRollback =
            created != GetJournalEntries().end() && created->second == kJournalCreatedFile;
        if (m_bUnregisterCitrixOnRollback) {
            // A setup stopped from here on unregisters it when it recovers.
            WriteJournalRecord(MakeJournalRecord(kRecordCitrixRegistered, {}));
        }
    }
    // The program is named by its full path and quoted in the command line.
    // Left unquoted, with no program name, the system would try each
    // blank-separated prefix of the path in turn ("C:\Program.exe" for a
    // folder below "C:\Program Files"), and a program planted there would run
    // with the setup's administrator rights.
    std::string commandLine = "\"" + program + "\"" +
                              (registerSupport ? " RegisterCitrixDllEx" : " UnregisterCitrixDllEx");

    // Manual reset, so a signal set while the program runs is still there
    // when we look. Without the event the restart check is left out.
    UniqueHandle restartEvent(CreateEventA(nullptr, TRUE, FALSE, profile.citrixRestartEventName));

    Log("Start Citrix installation process: ", commandLine.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    // CreateProcessA may write into the command line.
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
        // A rollback before the payload was written gets here: nothing to
        // unregister, and the step never fails the installation.
        return;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    if (WaitForSingleObject(process.get(), kCitrixSupportTimeLimit) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xFFFFFFFF);
        // Termination completes asynchronously; the program must be gone
        // before the rollback deletes its file.
        WaitForSingleObject(process.get(), 5000);
    }
    if (restartEvent && WaitForSingleObject(restartEvent.get(), 1) == WAIT_OBJECT_0) {
        RequireRestart();
    }
    Log("Finish Citrix installation process");
}
