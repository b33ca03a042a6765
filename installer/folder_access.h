// Whether users without administrator rights can change a folder, judged from
// its owner and access list. The elevated setup writes programs into the
// install folder and then starts them; a standard user who can add, replace,
// rename or re-permission that folder (or one above it) can swap a program in
// between and have it run as administrator. Pure: the caller reads the
// security descriptor and says which of its SIDs are trusted, so the rules are
// tested natively.
#pragma once

#include <cstdint>
#include <vector>

// One access-control entry as far as the judgement needs it.
struct FolderAccessEntry {
    bool allow = true;        // deny entries never give a right, so they are not relied on
    bool inheritOnly = false; // applies only to what is created below the folder
    bool trusted =
        false;         // SYSTEM, Administrators, TrustedInstaller, the administrator running setup
    uint32_t mask = 0; // access mask as stored (specific, standard and generic rights)
};

struct FolderAccess {
    bool ownerTrusted = true; // an owner may always rewrite the access list
    bool hasDacl = true;      // false: a null access list, which lets everyone do everything
    std::vector<FolderAccessEntry> entries;
};

enum class FolderRole {
    kInstallFolder, // the folder the programs go into: nobody else may add or remove anything
    kAncestor,      // a folder above it: nobody else may remove, rename or re-permission below
    kVolumeRoot,    // a drive or share root: as an ancestor, but a root cannot be deleted itself
};

// The rights that make a folder of `role` changeable, as an access mask.
uint32_t ChangingRights(FolderRole role);

// Whether someone untrusted holds one of the changing rights of `role`.
bool StandardUsersCanChange(const FolderAccess& access, FolderRole role);
