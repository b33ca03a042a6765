// installer-journal-probe.exe: installs over a file that a "running program"
// (this probe itself) holds open, rolls the installation back and ends, so
// that an end-to-end test can restart the system and see what the restart
// puts back.
//
//   installer-journal-probe.exe FOLDER NAME install|rollback
//
// The file FOLDER\NAME must exist. It is held open for reading (others may
// read it, nobody may replace it) from the start ("install": the new data
// waits for the restart in a temporary file) or only for the rollback
// ("rollback": the new data is written, and the original cannot be moved back
// at once). The setup log goes to FOLDER.log. Printed, one per line:
//   backup=<path of the backup>
//   restart=<0 or 1, the restart flag after the rollback>
// Exit code 0, or 2 for wrong arguments, 3 for a failed step (with a line
// "error: ..." on stderr).
#include "installer.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kNewData[] = "new data from the installation";

UniqueFile HoldOpen(const std::string& path) {
    return UniqueFile(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int Run(const char* folder, const char* name, bool holdDuringInstall) {
    const std::string target = std::string(folder) + "\\" + name;
    const std::string logPath = std::string(folder) + ".log";
    UniqueFile log(CreateFileA(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) {
        std::fprintf(stderr, "error: cannot create %s (%lu)\n", logPath.c_str(), GetLastError());
        return 3;
    }
    UniqueFile held;
    if (holdDuringInstall) {
        held = HoldOpen(target);
    }
    int restartNeeded = 0;
    std::string backup;
    try {
        CInstaller installer(log.get(), FALSE, TRUE, FALSE, FALSE);
        installer.SetRestartFlagPointer(&restartNeeded);
        installer.InstallFile(name, folder, kNewData, sizeof kNewData - 1);
        if (installer.GetFileBackups().size() != 1) {
            std::fprintf(stderr, "error: %u backups instead of one\n",
                         unsigned(installer.GetFileBackups().size()));
            return 3;
        }
        backup = installer.GetFileBackups().begin()->second;
        if (!holdDuringInstall) {
            held = HoldOpen(target);
        }
        if (!held) {
            std::fprintf(stderr, "error: cannot hold %s open (%lu)\n", target.c_str(),
                         GetLastError());
            return 3;
        }
        // The file steps of a rollback, in their order.
        restartNeeded = 0;
        installer.RemoveInstallFiles();
        installer.RollBackInstallFiles();
        installer.DeleteDirectory();
        // The installer goes here, and with it its final commit.
    } catch (const CSetupError& error) {
        std::fprintf(stderr, "error: CSetupError location %u code %lu\n", unsigned(error.wLocation),
                     static_cast<unsigned long>(error.dwCode));
        return 3;
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
