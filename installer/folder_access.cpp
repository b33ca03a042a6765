#include "folder_access.h"

namespace {

// The access-mask bits involved, as Windows defines them.
constexpr uint32_t kAddFile = 0x0002;          // FILE_ADD_FILE
constexpr uint32_t kAddSubdirectory = 0x0004;  // FILE_ADD_SUBDIRECTORY
constexpr uint32_t kDeleteChild = 0x0040;      // FILE_DELETE_CHILD
constexpr uint32_t kDelete = 0x00010000;       // DELETE
constexpr uint32_t kWriteDac = 0x00040000;     // WRITE_DAC
constexpr uint32_t kWriteOwner = 0x00080000;   // WRITE_OWNER
constexpr uint32_t kGenericAll = 0x10000000;   // GENERIC_ALL
constexpr uint32_t kGenericWrite = 0x40000000; // GENERIC_WRITE: adds files and folders

} // namespace

uint32_t ChangingRights(FolderRole role) {
    // Re-permissioning or taking over a folder, and removing or renaming what
    // is below it, change every folder further down.
    uint32_t rights = kDeleteChild | kWriteDac | kWriteOwner | kGenericAll;
    if (role != FolderRole::kVolumeRoot) {
        rights |= kDelete; // a folder that can be deleted can be renamed and replaced
    }
    if (role == FolderRole::kInstallFolder) {
        // A program, or a library a program loads from its own folder, added
        // beside the ones the setup starts.
        rights |= kAddFile | kAddSubdirectory | kGenericWrite;
    }
    return rights;
}

bool StandardUsersCanChange(const FolderAccess& access, FolderRole role) {
    if (!access.ownerTrusted || !access.hasDacl) {
        return true;
    }
    const uint32_t rights = ChangingRights(role);
    for (const FolderAccessEntry& entry : access.entries) {
        if (entry.allow && !entry.inheritOnly && !entry.trusted && (entry.mask & rights) != 0) {
            return true;
        }
    }
    return false;
}
