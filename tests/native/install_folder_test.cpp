// The install folder: made full from what the user gave, who else may change it, and whether
// it can take the payload (path limits, the folder the file system is asked about, the order
// in which problems are told), all on made-up file systems.
#include "destination_check.h"
#include "folder_access.h"
#include "folder_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace corvane::process;
using List = std::vector<std::string>;

// Shift-JIS (code page 932) lead bytes; "\x95\x5C" is one character.
bool IsShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Every record and the registration are built from the install folder: it must be full,
// with single separators, and fit every path the engine writes below it. In a double-byte
// code page a character's second byte may be 0x5C or 0x7C: no separator, no forbidden
// character; a lead byte with nothing after it would take the next separator for its second
// byte, whether it ends the typed folder or the current one a relative path goes below.
TEST(ResolveFolderPath, MakesTheFolderFullOrSaysWhyNot) {
    using P = FolderPathProblem;
    constexpr const char* kCurrent = "C:\\Users\\admin\\Downloads";
    const struct {
        const char* text;
        const char* path; // expected path; null when refused
        P problem;
        bool shiftJis = false;
        const char* current = kCurrent;
    } rows[] = {
        {"C:\\Program Files\\\\Corvane\\\\\\", "C:\\Program Files\\Corvane", P::kNone},
        {".\\sub\\.\\Corvane", "C:\\Users\\admin\\Downloads\\sub\\Corvane", P::kNone},
        {"..\\..\\Corvane", "C:\\Users\\Corvane", P::kNone},
        {"C:Corvane", "C:\\Users\\admin\\Downloads\\Corvane", P::kNone},
        {"D:Corvane", "D:\\Corvane", P::kNone},
        {"C:\\Corvane. . ", "C:\\Corvane", P::kNone},
        {"\\\\server\\share\\Corvane\\", "\\\\server\\share\\Corvane", P::kNone},
        {"", nullptr, P::kEmpty},
        {"C:\\", nullptr, P::kDriveRoot},
        {"\\\\server\\share", nullptr, P::kDriveRoot},
        {"C:\\Pro|gram", nullptr, P::kInvalidName},
        {"C:\\com1.txt\\x", nullptr, P::kInvalidName},
        {"\\\\?\\C:\\Corvane", nullptr, P::kInvalidName},
        // Without a usable current folder a relative path has nothing to stand on.
        {"Corvane", nullptr, P::kInvalidName, false, "relative"},
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C", P::kNone, true},
        {"C:\\\x95\x7C", "C:\\\x95\x7C", P::kNone, true},
        // Without the code page's knowledge the same bytes are a separator and a '|'.
        {"C:\\\x95\x5C\\", "C:\\\x95", P::kNone},
        {"C:\\\x95\x7C", nullptr, P::kInvalidName},
        {"C:\\Tools\x95", nullptr, P::kInvalidName, true},
        {"\\x", nullptr, P::kInvalidName, true, "\\\\\xF3\xF3\\\x9E"},
    };
    for (const auto& row : rows) {
        const ResolvedFolderPath result = ResolveFolderPath(
            row.text, row.current, 200, row.shiftJis ? IsShiftJisLeadByte : nullptr);
        EXPECT_EQ(result.problem, row.problem) << row.text;
        EXPECT_EQ(result.path, row.path ? row.path : "") << row.text;
    }
    // The length counts the full path; one byte more is refused.
    const std::string name(200 - std::string(kCurrent).size() - 1, 'n');
    EXPECT_EQ(ResolveFolderPath(name, kCurrent, 200).path.size(), 200u);
    EXPECT_EQ(ResolveFolderPath(name + "n", kCurrent, 200).problem, P::kTooLong);
    EXPECT_EQ(ParentFolders("C:\\Tools\\Corvane"), (List{"C:\\Tools", "C:\\"}));
    EXPECT_EQ(ParentFolders("\\\\server\\share\\Corvane"), List{"\\\\server\\share\\"});
    EXPECT_EQ(ParentFolders("C:\\\x95\x5C\\x", IsShiftJisLeadByte), (List{"C:\\\x95\x5C", "C:\\"}));
}

// Anyone but the system, the administrators and the one running setup who may add to the
// install folder, or remove, rename or re-permission it or a folder above, can swap a
// program the elevated setup then starts.
TEST(StandardUsersCanChange, LooksForChangingRightsOfUntrustedAccountsOnly) {
    constexpr uint32_t kReadExecute = 0x1200A9, kFull = 0x1F01FF, kDelete = 0x10000;
    // The administrators have full control; users have `mask`.
    const auto users = [](uint32_t mask, bool inheritOnly = false) {
        return FolderAccess{
            true, true, {{true, false, true, kFull}, {true, inheritOnly, false, mask}}};
    };
    FolderAccess denied = users(kDelete);
    denied.entries.insert(denied.entries.begin(), {false, false, false, kFull});
    const struct {
        const char* what;
        FolderAccess access;
        bool installFolder, ancestor, root;
    } rows[] = {
        {"Program Files: users read and execute", users(kReadExecute), false, false, false},
        {"add files", users(kReadExecute | 0x2), true, false, false},
        {"generic write", users(0x40000000), true, false, false},
        {"delete the folder", users(kDelete), true, true, false},
        {"delete what is inside", users(0x40), true, true, true},
        {"rewrite the access list", users(0x40000), true, true, true},
        {"generic all", users(0x10000000), true, true, true},
        {"only for what is created below", users(kFull, true), false, false, false},
        {"a deny entry trusts nobody", denied, true, true, false},
        {"a user owns it", {false, true, {}}, true, true, true},
        {"no access list at all", {true, false, {}}, true, true, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kInstallFolder), row.installFolder)
            << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kAncestor), row.ancestor)
            << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kVolumeRoot), row.root)
            << row.what;
    }
}

// A workstation-like layout. Its subfolder decides the limit: "amd64" below
// a folder of 241 characters ends at 247, and so does everything else.
const DestinationLayout kLayout = {
    {"amd64"}, {{"amd64\\hxvhub.sys", 5000}, {"corvanews.exe", 70000}, {"setup.log", 0}}};

std::string FolderOfLength(size_t length) {
    return "C:\\" + std::string(length - 3, 'x');
}

TEST(DestinationCheck, PathExcessCountsTheDeepestFileAndTheFolders) {
    const struct {
        std::string folder;
        size_t excess;
    } cases[] = {
        {FolderOfLength(241), 0},
        {FolderOfLength(242), 1},
        // The folder passes 247 by 1, its subfolder by 7, the deepest file
        // ("amd64\hxvhub.sys") the file limit of 259 by 6.
        {FolderOfLength(248), 7},
        {FolderOfLength(240) + "\\", 0}, // a trailing backslash adds no second one
        // Two-byte characters count once: 241 characters in 243 bytes.
        {"C:\\" + std::string(236, 'x') + "\x95\x5C\x95\x5C", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathExcess(c.folder, kLayout, IsShiftJisLeadByte), c.excess)
            << c.folder.size() << " bytes";
    }
    EXPECT_EQ(PathExcess(FolderOfLength(220), {{}, {{std::string(40, 'n'), 1}}}), 2u);
    // Each file is rounded to whole clusters; gigabytes add up past 32 bits.
    const std::vector<PlannedFile> files = {{"a", 1}, {"b", 4096}, {"c", 4097}, {"d", 0}};
    EXPECT_EQ(SpaceNeeded(files, 4096), 4096u + 4096u + 8192u);
    EXPECT_EQ(SpaceNeeded(files, 0), 1u + 4096u + 4097u);
    EXPECT_EQ(SpaceNeeded({{"big", 3'000'000'000u}, {"big2", 3'000'000'000u}}, 512),
              6'000'000'000u);
}

// The verdict for a folder below C:\Apps, which exists, on a volume with 4 KB clusters.
TEST(DestinationCheck, VerdictNamesTheFirstProblem) {
    const VolumeFacts roomy = {0, 1u << 30, 4096};
    const uint64_t needed = 20 * 4096; // 5000 + 70000 bytes take 2 + 18 clusters
    const std::string tooLong = "C:\\Apps\\" + std::string(250, 'x');
    const struct {
        std::string folder;
        VolumeFacts facts;
        DestinationProblem problem;
        List asked;
    } cases[] = {
        {"C:\\Apps\\Corvane", {0, needed, 4096}, DestinationProblem::kNone, {"C:\\Apps"}},
        {"C:\\Apps\\Corvane",
         {0, needed - 1, 4096},
         DestinationProblem::kNotEnoughSpace,
         {"C:\\Apps"}},
        // Too long: the file system is not even asked.
        {tooLong, roomy, DestinationProblem::kPathTooLong, {}},
        // Not writable wins over a full volume.
        {"C:\\Apps\\Corvane", {5, 0, 4096}, DestinationProblem::kNotWritable, {"C:\\Apps"}},
        // Nothing of the path exists: not writable, nothing asked.
        {"Q:\\Corvane", roomy, DestinationProblem::kNotWritable, {}},
    };
    for (const auto& c : cases) {
        List asked;
        const DestinationVerdict verdict = JudgeDestination(
            c.folder, kLayout, [](const std::string& path) { return path == "C:\\Apps"; },
            [&](const std::string& path) {
                asked.push_back(path);
                return c.facts;
            });
        EXPECT_EQ(verdict.problem, c.problem) << c.folder;
        EXPECT_EQ(asked, c.asked) << c.folder;
        EXPECT_EQ(verdict.existingFolder, c.asked.empty() ? "" : "C:\\Apps") << c.folder;
        EXPECT_EQ(verdict.writeError, c.folder[0] == 'Q' ? kErrorPathNotFound : c.facts.writeError)
            << c.folder;
        // 258 characters: "amd64" below passes 247 by 17.
        EXPECT_EQ(verdict.excess, c.folder == tooLong ? 17u : 0u) << c.folder;
        if (c.problem == DestinationProblem::kNotEnoughSpace) {
            EXPECT_EQ(verdict.neededBytes, needed);
            EXPECT_EQ(verdict.freeBytes, needed - 1);
        }
    }
}

} // namespace
