// The package reader's file edge on real Windows handles: a handle it cannot
// read whole fails as unreadable and leaves no entries from an earlier load.
// (Programs that find their own package are tried end to end.)
#include "package_format.h"
#include "package_test_support.h"
#include "packed_tools.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

namespace {

using namespace corvane::testing;

class PackageLoadFromFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_path = std::string(temp) + "corvane-package-" + std::to_string(GetCurrentProcessId());
        const Bytes image = Concat(
            {NoiseBytes(5000, 1), corvane::package::BuildPackage({{"a.txt", ToBytes("alpha")}})});
        std::ofstream(m_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    void TearDown() override { DeleteFileA(m_path.c_str()); }

    HANDLE Open(DWORD access) {
        return CreateFileA(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // Loads the good file first, with its file pointer at the end.
    void LoadGood(CPackedTools& reader) {
        HANDLE file = Open(GENERIC_READ);
        SetFilePointer(file, 0, nullptr, FILE_END);
        ASSERT_EQ(reader.LoadFromFile(file), 1) << "the file is read from its start";
        ASSERT_EQ(reader.GetEntryCount(), 1u);
        CloseHandle(file);
    }

    std::string m_path;
};

TEST_F(PackageLoadFromFileTest, UnreadableHandlesFailWithoutEntries) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    DWORD written = 0;
    WriteFile(writeEnd, "Marrowfend", 10, &written, nullptr); // not a file that has a size
    const struct {
        const char* what;
        HANDLE handle;
    } cases[] = {
        {"write-only handle", Open(GENERIC_WRITE)},
        {"invalid handle", INVALID_HANDLE_VALUE},
        {"read end of a pipe", readEnd},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        CPackedTools reader;
        LoadGood(reader);
        EXPECT_EQ(reader.LoadFromFile(test.handle), 0);
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kFileUnreadable);
        EXPECT_EQ(reader.GetEntryCount(), 0u);
    }
    CloseHandle(cases[0].handle);
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
}

} // namespace
