// Runs corvane-pack in-process in a folder of the test's own and looks at what
// a user sees: exit code, printed text, files.
#pragma once

#include "pack_tool.h"
#include "package_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::pack::testing {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace corvane::testing;

struct ToolRun {
    int code = -1;
    std::string out, err;
};

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
        }
        m_root = fs::temp_directory_path() / ("corvane-pack-test-" + name);
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

    fs::path Path(const std::string& relative) const { return m_root / relative; }
    std::string P(const std::string& relative) const { return Path(relative).string(); }

    // A name ending in '/' makes an empty folder.
    void WriteFile(const std::string& relative, const Bytes& content) {
        const fs::path path = Path(relative);
        fs::create_directories(relative.back() == '/' ? path : path.parent_path());
        if (relative.back() != '/') {
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(content.data()), content.size());
        }
    }
    void WriteFile(const std::string& relative, const std::string& content) {
        WriteFile(relative, ToBytes(content));
    }
    static Bytes ReadFile(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }
    // Temporaries and hidden files included.
    static std::set<std::string> FolderNames(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(folder)) {
            names.insert(item.path().filename().string());
        }
        return names;
    }
    static ToolRun Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        ToolRun run;
        run.code = RunPackTool(args, out, err);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    fs::path m_root;
};

inline std::string TestName(std::string text) {
    for (char& c : text) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return text;
}

} // namespace corvane::pack::testing
