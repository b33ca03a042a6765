// File handling of the package tool. Reads name the file and the reason when
// they fail; output goes to a temporary file beside its destination and is
// renamed over it only when complete, so a failed run never leaves a partial
// file behind and never touches the previous one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::pack {

// Bad input or a failed file operation; the message names the file and the
// reason and is shown to the user as it is.
class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A path as the user wrote it, quoted for messages.
std::string Quote(const std::filesystem::path& path);

// The whole content of a file. `role` says what the file is to the user
// ("input file", "stub", "list file", "package").
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path, const char* role);

// A file written under a temporary name in the destination's folder. Commit()
// renames it over the destination; destroyed before that, it deletes itself.
class PendingFile {
public:
    explicit PendingFile(std::filesystem::path destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    void Write(const void* data, size_t size);
    void Commit();

    const std::filesystem::path& Destination() const { return m_destination; }
    const std::filesystem::path& TemporaryPath() const { return m_temporary; }

private:
    void Close();

    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    std::FILE* m_file = nullptr;
    bool m_committed = false;
};

} // namespace corvane::pack
