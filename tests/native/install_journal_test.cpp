// The journal's own rules, away from any disk: which created folders a
// rollback manages to remove when they nest, and which saved registry value
// rollback writes back when one value was saved twice.
#include "install_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

// Folders and files that exist; a folder can be removed only when nothing
// below it exists, like RemoveDirectory.
class FakeDisk {
public:
    explicit FakeDisk(std::set<std::string> paths) : m_paths(std::move(paths)) {}

    bool RemoveFolder(const std::string& folder) {
        ++m_attempts;
        const std::string inside = folder + "\\";
        const bool holdsSomething = std::any_of(m_paths.begin(), m_paths.end(), [&](auto& path) {
            return path.compare(0, inside.size(), inside) == 0;
        });
        if (holdsSomething || m_paths.count(folder) == 0) {
            return false;
        }
        m_paths.erase(folder);
        return true;
    }
    const std::set<std::string>& Paths() const { return m_paths; }
    int Attempts() const { return m_attempts; }

private:
    std::set<std::string> m_paths;
    int m_attempts = 0;
};

struct FolderRow {
    const char* what;
    std::vector<std::string> created; // folders the installer made
    std::set<std::string> others;     // what else is on the disk
    std::set<std::string> remaining;  // what must be left afterwards
};

void PrintTo(const FolderRow& row, std::ostream* out) {
    *out << row.what;
}

class RemoveCreatedFoldersTest : public ::testing::TestWithParam<FolderRow> {};

TEST_P(RemoveCreatedFoldersTest, RemovesEveryEmptyFolderAndAnnouncesEachOnceInJournalOrder) {
    const FolderRow& row = GetParam();
    // The walker gets the folders in journal order, whatever order they were
    // recorded in.
    JournalEntryTable journal;
    std::set<std::string> disk = row.others;
    for (const std::string& folder : row.created) {
        journal[folder] = kJournalCreatedDirectory;
        disk.insert(folder);
    }
    journal["C:\\unrelated.dll"] = kJournalCreatedFile;
    const std::vector<std::string> folders = JournalKeysOfKind(journal, kJournalCreatedDirectory);
    FakeDisk fake(disk);
    std::vector<std::string> announced;

    RemoveCreatedFolders(
        folders, [&](const std::string& folder) { announced.push_back(folder); },
        [&](const std::string& folder) { return fake.RemoveFolder(folder); });

    EXPECT_EQ(announced, folders);
    EXPECT_EQ(fake.Paths(), row.remaining);
    EXPECT_LE(fake.Attempts(), 2 * int(folders.size())) << "each folder is tried at most twice";
}

INSTANTIATE_TEST_SUITE_P(
    Folders, RemoveCreatedFoldersTest,
    ::testing::Values(FolderRow{"the install folder and its architecture folder",
                                {"C:\\Corvane", "C:\\Corvane\\amd64"},
                                {},
                                {}},
                      FolderRow{"three levels, recorded outermost first",
                                {"C:\\A", "C:\\A\\B", "C:\\A\\B\\C"},
                                {},
                                {}},
                      // A blank sorts before the backslash, so a sibling can come between a
                      // folder and the folders inside it.
                      FolderRow{"a sibling whose name extends the folder's",
                                {"C:\\App\\x86", "C:\\App Data", "C:\\App"},
                                {},
                                {}},
                      FolderRow{"a user's file keeps its folders, and only those",
                                {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Start\\Corvane"},
                                {"C:\\Corvane\\amd64\\user.log", "C:\\Start"},
                                {"C:\\Corvane", "C:\\Corvane\\amd64",
                                 "C:\\Corvane\\amd64\\user.log", "C:\\Start"}}));

SavedRegistryValue Value(const char* name, const std::string& data, uint32_t type = 1) {
    SavedRegistryValue value;
    value.name = name;
    value.data = data;
    value.type = type;
    return value;
}

// Rollback writes a key's saved values in list order, so if a second save of
// the same value were kept, it would overwrite the original with the value
// the installation had already changed.
TEST(AddSavedRegistryValue, KeepsTheFirstSaveOfEachValue) {
    RegistryBackupTable table;
    const std::string setup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
    EXPECT_TRUE(
        AddSavedRegistryValue(table, setup, Value("LogLevel", std::string("\0\0\0\0", 4), 4)));
    EXPECT_TRUE(AddSavedRegistryValue(table, setup, Value("LogPath", "C:\\Windows")));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, Value("LogLevel", "\xFF\xFF\0\0", 4)));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, Value("LOGPATH", "C:\\Temp")))
        << "value names are the same whatever their letter case";
    // Another key's value of the same name is another value.
    EXPECT_TRUE(AddSavedRegistryValue(table, "Software\\Other", Value("LogLevel", "x")));

    ASSERT_EQ(table.size(), 2u);
    const auto& saved = table.at(setup);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].name, "LogLevel");
    EXPECT_EQ(saved[0].data, std::string("\0\0\0\0", 4));
    EXPECT_EQ(saved[0].type, 4u);
    EXPECT_EQ(saved[1].name, "LogPath");
    EXPECT_EQ(saved[1].data, "C:\\Windows");
}

} // namespace
