// The child installer is a program of its own: what it registers (services,
// class filters, INFs in the driver store, devices) is found by comparing the
// machine before and after it ran, and journaled so that a failure of any
// later step, or of the child itself half-way, undoes it.
#include "install_process.h"

#include "product_profile.h"

#include <vector>

void CInstallProcess::RunChildInstallerJournaled() {
    const ProductProfile& profile = CurrentProfile();
    const std::vector<std::string> classes(profile.deviceClasses.begin(),
                                           profile.deviceClasses.end());
    const SystemFacts before = TakeSystemFacts(classes);
    // On disk before the child starts: a setup stopped while it runs finds
    // its changes at the next start by comparing the machine with these.
    WriteJournalRecord(JournalRecord{kRecordChildStarting, 0, EncodeSystemFacts(before)});
    try {
        RunChildInstaller();
    } catch (const CSetupError&) {
        JournalSystemChanges(CompareSystemFacts(before, TakeSystemFacts(classes)));
        throw;
    }
    JournalSystemChanges(CompareSystemFacts(before, TakeSystemFacts(classes)));
}
