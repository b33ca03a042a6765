#include "package_files.h"

#include <cerrno>
#include <cstring>
#include <random>

namespace corvane::pack {

namespace fs = std::filesystem;

std::string Quote(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

namespace {

std::string SystemReason(int error) {
    return std::strerror(error);
}

// Random rather than the process id, which standard C++ cannot ask for; two
// runs writing the same output at once still get different temporaries.
std::string RandomSuffix() {
    static std::mt19937 generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string suffix;
    for (int i = 0; i < 8; ++i) {
        suffix += digits[generator() % 16];
    }
    return suffix;
}

} // namespace

std::vector<uint8_t> ReadWholeFile(const fs::path& path, const char* role) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        throw PackError(std::string("cannot read ") + role + " " + Quote(path) + ": no such file");
    }
    if (status.type() == fs::file_type::directory) {
        throw PackError(std::string("cannot read ") + role + " " + Quote(path) +
                        ": it is a folder, not a file");
    }
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) {
        throw PackError(std::string("cannot open ") + role + " " + Quote(path) + ": " +
                        SystemReason(errno));
    }
    std::vector<uint8_t> content;
    uint8_t chunk[64 * 1024];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file);
        content.insert(content.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            break;
        }
    }
    const bool failed = std::ferror(file) != 0;
    const int reason = errno;
    std::fclose(file);
    if (failed) {
        throw PackError(std::string("cannot read ") + role + " " + Quote(path) + ": " +
                        SystemReason(reason));
    }
    return content;
}

PendingFile::PendingFile(fs::path destination) : m_destination(std::move(destination)) {
    const fs::path folder = m_destination.parent_path();
    const std::string base = "." + m_destination.filename().string() + ".";
    for (int attempt = 0; attempt < 16 && m_file == nullptr; ++attempt) {
        m_temporary = folder / (base + RandomSuffix() + ".tmp");
        std::error_code error;
        if (fs::exists(m_temporary, error)) {
            continue;
        }
        m_file = std::fopen(m_temporary.string().c_str(), "wb");
        if (m_file == nullptr) {
            throw PackError("cannot create a temporary file beside " + Quote(m_destination) + ": " +
                            SystemReason(errno));
        }
    }
    if (m_file == nullptr) {
        throw PackError("cannot find a free temporary file name beside " + Quote(m_destination));
    }
}

PendingFile::~PendingFile() {
    Close();
    if (!m_committed && !m_temporary.empty()) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
    }
}

void PendingFile::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void PendingFile::Write(const void* data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, m_file) != size) {
        throw PackError("cannot write " + Quote(m_destination) + ": " + SystemReason(errno));
    }
}

void PendingFile::Commit() {
    // A full disk often shows only when the buffered tail is flushed.
    const bool flushed = std::fflush(m_file) == 0;
    const int reason = errno;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!flushed || !closed) {
        throw PackError("cannot write " + Quote(m_destination) + ": " +
                        SystemReason(flushed ? errno : reason));
    }
    // Replaces an existing destination in one step on both systems (on
    // Windows through MoveFileEx with MOVEFILE_REPLACE_EXISTING).
    std::error_code error;
    fs::rename(m_temporary, m_destination, error);
    if (error) {
        throw PackError("cannot replace " + Quote(m_destination) + ": " + error.message());
    }
    m_committed = true;
}

} // namespace corvane::pack
