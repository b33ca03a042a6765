// Runs corvane-pack in-process, in a folder of the test's own, and looks at
// what a user would see: exit code, printed text, files.
#pragma once

#include "pack_tool.h"
#include "package_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::pack::testing {

namespace fs = std::filesystem;

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic noise: deflate cannot shrink it, so packed sizes stay large.
inline std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) {
        byte = uint8_t(generator());
    }
    return bytes;
}

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        m_root = fs::temp_directory_path() / ("corvane-pack-test-" + name);
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

public:
    fs::path Path(const std::string& relative) const { return m_root / relative; }
    std::string P(const std::string& relative) const { return Path(relative).string(); }

    fs::path WriteFile(const std::string& relative, const std::vector<uint8_t>& content) {
        const fs::path path = Path(relative);
        fs::create_directories(path.parent_path());
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
        return path;
    }
    fs::path WriteFile(const std::string& relative, const std::string& content) {
        return WriteFile(relative, Bytes(content));
    }

protected:
    static std::vector<uint8_t> ReadFile(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
    }

    // Names of everything in a folder, temporaries and hidden files included.
    static std::set<std::string> FolderNames(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(folder)) {
            names.insert(item.path().filename().string());
        }
        return names;
    }

    static ToolRun Run(const std::vector<std::string>& args) {
        std::ostringstream out;
        std::ostringstream err;
        ToolRun run;
        run.code = RunPackTool(args, out, err);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    fs::path m_root;
};

// A bare package built straight with the format writer, for damaging.
inline std::vector<uint8_t>
BuildRaw(const std::vector<std::pair<std::string, std::string>>& entries,
         uint8_t sealByte = package::kDefaultSealByte) {
    std::vector<package::PackageInput> inputs;
    for (const auto& [name, content] : entries) {
        inputs.push_back({name, Bytes(content)});
    }
    return package::BuildPackage(inputs, sealByte);
}

} // namespace corvane::pack::testing
