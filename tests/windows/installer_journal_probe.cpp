// installer-journal-probe.exe FOLDER NAME install|rollback
//
// For tests/e2e/test_install_journal.py: installs over FOLDER\NAME while this
// probe holds it open like a running program, from the start ("install": the
// new data waits for the restart) or only for the rollback ("rollback": the
// original cannot go back at once), rolls back, ends the installer and prints
// "backup=<path>" and "restart=<0|1>". The setup log goes to FOLDER.log.
// Exit code 0; 2 for wrong arguments; 3 for a failed step, said on stderr.
#include "installer.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kNewData[] = "new data from the installation";

int Fail(const char* what, unsigned long code) {
    std::fprintf(stderr, "error: %s (%lu)\n", what, code);
    return 3;
}

int Run(const char* folder, const char* name, bool holdDuringInstall) {
    const std::string target = std::string(folder) + "\\" + name;
    auto hold = [&] {
        return UniqueFile(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueFile log(CreateFileA((std::string(folder) + ".log").c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    UniqueFile held = holdDuringInstall ? hold() : UniqueFile();
    int restartNeeded = 0;
    std::string backup;
    try {
        CInstaller installer(log.get(), FALSE, TRUE, FALSE, FALSE);
        installer.SetRestartFlagPointer(&restartNeeded);
        installer.InstallFile(name, folder, kNewData, sizeof kNewData - 1);
        if (installer.GetFileBackups().size() != 1) {
            return Fail("backups instead of one", installer.GetFileBackups().size());
        }
        backup = installer.GetFileBackups().begin()->second;
        if (!holdDuringInstall) {
            held = hold();
        }
        if (!held) {
            return Fail("cannot hold the file open", GetLastError());
        }
        restartNeeded = 0;
        installer.RemoveInstallFiles();
        installer.RollBackInstallFiles();
        installer.DeleteDirectory();
        // The installer goes here; no destructor may delete a backup.
    } catch (const CSetupError& error) {
        return Fail("CSetupError at location", error.wLocation);
    }
    held.reset();
    std::printf("backup=%s\nrestart=%d\n", backup.c_str(), restartNeeded);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 ||
        (std::strcmp(argv[3], "install") != 0 && std::strcmp(argv[3], "rollback") != 0)) {
        std::fprintf(stderr, "usage: installer-journal-probe FOLDER NAME install|rollback\n");
        return 2;
    }
    return Run(argv[1], argv[2], std::strcmp(argv[3], "install") == 0);
}
