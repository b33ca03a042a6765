// The install folder's protection. The setup runs as administrator and starts
// programs it has just written into the install folder; whoever can change
// that folder, or one above it, between the copy and the start runs code as
// administrator. So the folder is made with an access list of its own, an
// existing one is used only when no standard user can change it, and no file
// is written through a link that a standard user may have planted.
#include "installer.h"

#include "folder_access.h"
#include "folder_path.h"

#include <sddl.h>

#include <memory>
#include <new>

namespace {

// SYSTEM and Administrators full control, Users read and execute, for the
// folder and everything below it; "P": nothing inherited from the parent.
constexpr char kInstallFolderSddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

struct LocalMemoryTraits {
    using pointer = void*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { LocalFree(value); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

UniqueSid MakeSid(BYTE authority, std::initializer_list<DWORD> rids) {
    SID_IDENTIFIER_AUTHORITY identifier = {{0, 0, 0, 0, 0, authority}};
    DWORD r[8] = {};
    BYTE count = 0;
    for (DWORD rid : rids) {
        r[count++] = rid;
    }
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&identifier, count, r[0], r[1], r[2], r[3], r[4], r[5], r[6],
                                  r[7], &sid)) {
        return UniqueSid();
    }
    return UniqueSid(sid);
}

// The accounts that may change the install folder: the system, the
// administrators, the Windows installer service, and the administrator who
// runs this setup (Wine gives every file that user as its owner).
class TrustedAccounts {
public:
    TrustedAccounts() {
        m_sids.push_back(MakeSid(5, {18}));      // SYSTEM
        m_sids.push_back(MakeSid(5, {32, 544})); // BUILTIN\Administrators
        m_sids.push_back(MakeSid(5, {80, 956008885, 3418522649, 1831038044, 1853292631,
                                     2271478464})); // NT SERVICE\TrustedInstaller
        // CREATOR OWNER stands for whoever creates something below; an entry
        // for it on the folder itself gives nobody anything.
        m_sids.push_back(MakeSid(3, {0}));
        UniqueHandle token;
        HANDLE raw = nullptr;
        DWORD needed = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            token.reset(raw);
            GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
        }
        if (needed != 0) {
            m_user.reset(new (std::nothrow) BYTE[needed]);
            if (m_user &&
                !GetTokenInformation(token.get(), TokenUser, m_user.get(), needed, &needed)) {
                m_user.reset();
            }
        }
    }

    bool Contains(PSID sid) const {
        if (sid == nullptr || !IsValidSid(sid)) {
            return false;
        }
        for (const UniqueSid& trusted : m_sids) {
            if (trusted && EqualSid(trusted.get(), sid)) {
                return true;
            }
        }
        return m_user && EqualSid(reinterpret_cast<TOKEN_USER*>(m_user.get())->User.Sid, sid);
    }

private:
    std::vector<UniqueSid> m_sids;
    std::unique_ptr<BYTE[]> m_user;
};

// The folder's owner and access list as the judgement needs them; false when
// they cannot be read.
bool ReadFolderAccess(const std::string& folder, const TrustedAccounts& trusted,
                      FolderAccess* access) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityA(folder.c_str(), wanted, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !GetFileSecurityA(folder.c_str(), wanted, buffer.get(), needed, &needed)) {
        return false;
    }
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(buffer.get(), &owner, &ownerDefaulted) ||
        !GetSecurityDescriptorDacl(buffer.get(), &present, &dacl, &daclDefaulted)) {
        return false;
    }
    access->ownerTrusted = trusted.Contains(owner);
    access->hasDacl = present && dacl != nullptr;
    access->entries.clear();
    for (DWORD index = 0; access->hasDacl && index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Allow entries of other types (object, callback) are not expected
        // on files; a deny entry is no reason to trust anyone.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue;
        }
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        FolderAccessEntry entry;
        entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        entry.trusted = trusted.Contains(const_cast<DWORD*>(&allowed->SidStart));
        entry.mask = allowed->Mask;
        access->entries.push_back(entry);
    }
    return true;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDbcsLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

} // namespace

bool CInstaller::IsLinkHandle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information = {};
    // What cannot be told is not written to.
    return !GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
           information.nNumberOfLinks > 1;
}

bool CInstaller::IsLinkPath(const std::string& path) {
    // The name's own attributes: not every system reports a reparse point
    // through a handle opened on it (Wine follows a folder link all the same).
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return true;
    }
    // The name itself, not what it points to; no access is asked, so a file
    // in use can still be looked at.
    UniqueFile file(CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && IsLinkHandle(file.get());
}

std::string CInstaller::FindChangeableFolder(const std::string& installFolder) {
    const TrustedAccounts trusted;
    std::vector<std::string> folders = ParentFolders(installFolder, IsDbcsLeadByte);
    if (folders.empty()) {
        return installFolder; // not a full path: nothing can be vouched for
    }
    folders.insert(folders.begin(), installFolder);
    for (size_t index = 0; index < folders.size(); ++index) {
        const std::string& folder = folders[index];
        if (!Exists(folder)) {
            continue; // made by this setup, with its own access list
        }
        const FolderRole role = index == 0                    ? FolderRole::kInstallFolder
                                : index + 1 == folders.size() ? FolderRole::kVolumeRoot
                                                              : FolderRole::kAncestor;
        FolderAccess access;
        if (!ReadFolderAccess(folder, trusted, &access) || StandardUsersCanChange(access, role)) {
            return folder;
        }
    }
    return {};
}

void CInstaller::MakeProtectedDirectory(const char* path) {
    const std::string folder = path ? path : "";
    // The folders above are looked at first: one that a standard user can
    // change lets the new folder be moved away and replaced after it is made.
    std::string changeable = FindChangeableFolder(folder);
    if (!changeable.empty() && changeable != folder) {
        Fail(977, ERROR_ACCESS_DENIED,
             ("Error: Users without administrator rights can change: " + changeable).c_str());
    }
    Log("CreateDirectory: ", folder.c_str());
    UniqueLocalMemory descriptor;
    {
        PSECURITY_DESCRIPTOR raw = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kInstallFolderSddl,
                                                                  SDDL_REVISION_1, &raw, nullptr)) {
            Fail(976, GetLastError());
        }
        descriptor.reset(raw);
    }
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
    // As in MakeDirectory: only a folder that is not there yet is recorded,
    // and on disk before it is made.
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WriteJournalRecord(MakeJournalRecord(kRecordCreatedFolder, {folder}));
        if (CreateDirectoryA(folder.c_str(), &security)) {
            RecordCreatedDirectory(folder);
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            Fail(976, error);
        }
        // Someone else made it in the meantime: not ours after all.
        WriteJournalRecord(MakeJournalRecord(kRecordWithdrawn, {folder}));
    }
    // An earlier installation's folder, or one someone else made, maybe just
    // now: used as it is only when it is no link (what is written into it
    // would land elsewhere) and no standard user can change it. Its access
    // list is not rewritten; the folder may hold what others rely on.
    if (IsLinkPath(folder)) {
        Fail(979, ERROR_CANT_ACCESS_FILE, ("Error: Not written through a link: " + folder).c_str());
    }
    changeable = FindChangeableFolder(folder);
    if (!changeable.empty()) {
        Fail(978, ERROR_ACCESS_DENIED,
             ("Error: Users without administrator rights can change: " + changeable).c_str());
    }
}
