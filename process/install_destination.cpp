// The Windows side of the destination check: the plan's files and their
// sizes, and what the file system says about the folder.
#include "install_process.h"

#include "product_profile.h"

#include <cstdio>
#include <limits>

namespace {

using corvane::process::VolumeFacts;

bool IsLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// 0 when a file can be created in `folder`, else the system's error. The
// file is deleted when its handle closes, so nothing stays behind.
uint32_t WriteProbe(const std::string& folder) {
    const DWORD start = GetTickCount();
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "corvane-%08lx.tmp",
                      static_cast<unsigned long>(start + attempt));
        const std::string path = corvane::process::JoinPath(folder, name, IsLeadByte);
        const HANDLE probe = CreateFileA(
            path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            return 0;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_FILE_EXISTS;
}

VolumeFacts InspectFolder(const std::string& folder) {
    VolumeFacts facts = {};
    facts.writeError = WriteProbe(folder);
    ULARGE_INTEGER available = {};
    // Unknown free space refuses nothing: the installation still reports a
    // full volume when it meets one.
    facts.freeBytes = GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)
                          ? available.QuadPart
                          : std::numeric_limits<uint64_t>::max();
    char root[MAX_PATH] = {};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD clusters = 0;
    if (GetVolumePathNameA(folder.c_str(), root, sizeof root) &&
        GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
        facts.clusterSize = sectorsPerCluster * bytesPerSector;
    }
    return facts;
}

} // namespace

corvane::process::DestinationLayout CInstallProcess::PlannedLayout() {
    const ProductProfile& profile = CurrentProfile();
    const PayloadSystem system{IsWow64System(), IsVistaOrLater(), IsWindows10OrLater()};
    corvane::process::DestinationLayout layout;
    layout.folders.emplace_back(ArchitectureFolderName(system));
    const auto sizeOf = [this](const std::string& entry) -> uint64_t {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        return GetPackedTools()->FindEntry(entry.c_str(), &data, &size) ? size : 0;
    };
    for (const PayloadFile& file : ResolvePayloadPlan(profile.payloadRules, system)) {
        layout.files.push_back({file.destinationName, sizeOf(file.entryName)});
    }
    if (profile.isServer) {
        const std::string usbDriver = SystemUsbDriverEntryName(system.is64Bit, GetOsVersionCode());
        if (const uint64_t size = sizeOf(usbDriver); size != 0) {
            layout.files.push_back({"usbd.sys", size});
        }
    }
    // The setup log is copied in at the end; its path must fit as well.
    layout.files.push_back({profile.logFileName, 0});
    return layout;
}

corvane::process::DestinationVerdict CInstallProcess::CheckDestination(const std::string& folder) {
    return corvane::process::JudgeDestination(folder, PlannedLayout(), PathExists, InspectFolder,
                                              IsLeadByte);
}
