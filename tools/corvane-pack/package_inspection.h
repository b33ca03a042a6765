// A precise account of a package in a file image, for `list` and for the
// diagnosis `verify` gives. Whether a package is valid is decided by the
// setup program's own reader (CPackedTools); this walk only explains.
#pragma once

#include "md5.h"
#include "package_format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::pack {

struct EntryFacts {
    uint32_t index = 0; // 1-based, in package order
    std::string name;
    size_t recordOffset = 0; // in the file image
    uint32_t packedSize = 0;
    Md5Digest recordedDigest{};
    bool inflated = false;
    size_t unpackedSize = 0;
    Md5Digest actualDigest{};
};

// Where an Authenticode signature keeps its certificates in a PE file.
struct CertificateTable {
    size_t offset = 0;
    size_t size = 0;
};

struct PackageInspection {
    bool headerFound = false;
    package::PackageHeader header;
    std::vector<EntryFacts> entries;
    // Faults that make the reader refuse the package; the first one is what
    // stopped the reader.
    std::vector<std::string> problems;
    // Things the reader accepts that a release engineer should know about.
    std::vector<std::string> warnings;
    std::optional<CertificateTable> certificateTable;
};

PackageInspection InspectPackage(const uint8_t* image, size_t length);

// The certificate table of a PE image's security directory, if it has one.
std::optional<CertificateTable> FindCertificateTable(const uint8_t* image, size_t length);

// Why `name` is not a plain file name; empty when it is one.
std::string DescribeNameFault(std::string_view name);

// An entry name in double quotes, bytes outside printable ASCII escaped, so a
// damaged name cannot garble the terminal.
std::string QuoteName(std::string_view name);

std::string Hex(uint64_t value);

} // namespace corvane::pack
