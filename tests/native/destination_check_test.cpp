// Whether an install folder can take the payload: the path limits, the folder
// the file system is asked about, and the order in which problems are told,
// all on made-up file systems.
#include "destination_check.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace corvane::process;

// Shift-JIS (code page 932) lead bytes; "\x95\x5C" is one character.
bool IsShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// A workstation-like layout. Its subfolder decides the limit: "amd64" below
// a folder of 241 characters ends at 247, and so does everything else.
const DestinationLayout kLayout = {
    {"amd64"}, {{"amd64\\hxvhub.sys", 5000}, {"corvanews.exe", 70000}, {"setup.log", 0}}};

std::string FolderOfLength(size_t length) {
    return "C:\\" + std::string(length - 3, 'x');
}

TEST(DestinationCheck, PathExcessCountsTheDeepestFileAndTheFolders) {
    struct Case {
        std::string folder;
        size_t excess;
    } cases[] = {
        {"C:\\Program Files\\Corvane", 0},
        {FolderOfLength(241), 0},
        {FolderOfLength(242), 1},
        // The folder passes 247 by 1, its subfolder by 7, the deepest file
        // ("amd64\hxvhub.sys") the file limit of 259 by 6.
        {FolderOfLength(248), 7},
        // A trailing backslash adds no second one.
        {FolderOfLength(240) + "\\", 0},
        // Two-byte characters count once: 241 characters in 243 bytes.
        {"C:\\" + std::string(236, 'x') + "\x95\x5C\x95\x5C", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathExcess(c.folder, kLayout, IsShiftJisLeadByte), c.excess)
            << c.folder.size() << " bytes";
    }
    DestinationLayout deepFolder = kLayout;
    deepFolder.folders.push_back(std::string(20, 'f'));
    EXPECT_EQ(PathExcess(FolderOfLength(230), deepFolder), 4u);
    const DestinationLayout longName = {{}, {{std::string(40, 'n'), 1}}};
    EXPECT_EQ(PathExcess(FolderOfLength(220), longName), 2u);
}

TEST(DestinationCheck, SpaceNeededRoundsEachFileToWholeClusters) {
    const std::vector<PlannedFile> files = {{"a", 1}, {"b", 4096}, {"c", 4097}, {"d", 0}};
    EXPECT_EQ(SpaceNeeded(files, 4096), 4096u + 4096u + 8192u);
    EXPECT_EQ(SpaceNeeded(files, 0), 1u + 4096u + 4097u);
    // Sizes of gigabytes add up without overflowing 32 bits.
    EXPECT_EQ(SpaceNeeded({{"big", 3'000'000'000u}, {"big2", 3'000'000'000u}}, 512),
              6'000'000'000u);
}

TEST(DestinationCheck, NearestExistingFolderWalksUpToWhatExists) {
    const std::set<std::string> existing = {"C:\\", "C:\\Program Files", "\\\\server\\share",
                                            "D:\\\x95\x5C"};
    const auto exists = [&existing](const std::string& path) { return existing.count(path) != 0; };
    struct Case {
        const char* folder;
        const char* nearest;
    } cases[] = {
        {"C:\\Program Files\\Corvane\\Workstation", "C:\\Program Files"},
        {"C:\\Program Files\\\\", "C:\\Program Files"},
        {"C:\\New", "C:\\"},
        {"C:", "C:\\"},
        // A drive that does not exist, a relative name, a share that does not.
        {"Q:\\Apps\\Corvane", ""},
        {"Corvane", ""},
        {"\\\\other\\share\\Corvane", ""},
        {"\\\\server\\share\\Apps\\Corvane", "\\\\server\\share"},
        // "\x95\x5C" is one character, not a folder and its separator.
        {"D:\\\x95\x5C\\New", "D:\\\x95\x5C"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NearestExistingFolder(c.folder, exists, IsShiftJisLeadByte), c.nearest)
            << c.folder;
    }
}

// The verdict for a folder below C:\Apps, which exists, on a volume with 4 KB
// clusters; `facts` is what the volume says.
DestinationVerdict Judge(const std::string& folder, const VolumeFacts& facts,
                         std::vector<std::string>* asked) {
    return JudgeDestination(
        folder, kLayout, [](const std::string& path) { return path == "C:\\Apps"; },
        [&facts, asked](const std::string& path) {
            asked->push_back(path);
            return facts;
        });
}

TEST(DestinationCheck, VerdictNamesTheFirstProblem) {
    const VolumeFacts roomy = {0, 1u << 30, 4096};
    // 5000 + 70000 bytes take 2 + 18 clusters.
    const uint64_t needed = 20 * 4096;
    struct Case {
        std::string folder;
        VolumeFacts facts;
        DestinationProblem problem;
        std::vector<std::string> asked;
    } cases[] = {
        {"C:\\Apps\\Corvane", roomy, DestinationProblem::kNone, {"C:\\Apps"}},
        {"C:\\Apps\\Corvane", {0, needed, 4096}, DestinationProblem::kNone, {"C:\\Apps"}},
        {"C:\\Apps\\Corvane",
         {0, needed - 1, 4096},
         DestinationProblem::kNotEnoughSpace,
         {"C:\\Apps"}},
        // Too long: the file system is not even asked.
        {"C:\\Apps\\" + std::string(250, 'x'), roomy, DestinationProblem::kPathTooLong, {}},
        // Not writable wins over a full volume.
        {"C:\\Apps\\Corvane", {5, 0, 4096}, DestinationProblem::kNotWritable, {"C:\\Apps"}},
        // Nothing of the path exists: not writable, nothing asked.
        {"Q:\\Corvane", roomy, DestinationProblem::kNotWritable, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> asked;
        const DestinationVerdict verdict = Judge(c.folder, c.facts, &asked);
        EXPECT_EQ(verdict.problem, c.problem) << c.folder;
        EXPECT_EQ(asked, c.asked) << c.folder;
    }

    std::vector<std::string> asked;
    const DestinationVerdict full = Judge("C:\\Apps\\Corvane", {0, 4096, 4096}, &asked);
    EXPECT_EQ(full.neededBytes, needed);
    EXPECT_EQ(full.freeBytes, 4096u);
    EXPECT_EQ(full.existingFolder, "C:\\Apps");
    EXPECT_EQ(Judge("C:\\Apps\\Corvane", {5, 0, 0}, &asked).writeError, 5u);
    EXPECT_EQ(Judge("Q:\\Corvane", roomy, &asked).writeError, kErrorPathNotFound);
    // 258 characters: "amd64" below passes 247 by 17.
    EXPECT_EQ(Judge("C:\\Apps\\" + std::string(250, 'x'), roomy, &asked).excess, 17u);
}

} // namespace
