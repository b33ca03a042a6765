#include "package_inspection.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace corvane::pack {

using package::EntryRecord;
using package::EntryWalker;
using package::kEntryHeadSize;
using package::kHeaderSize;
using package::kSignature;
using package::kSignatureSize;
using package::ReadLittleEndian32;

namespace {

constexpr size_t kInflateBufferSize = 0x40000;

uint16_t ReadLittleEndian16(const uint8_t* bytes) {
    return uint16_t(bytes[0] | bytes[1] << 8);
}

std::string EntryLabel(uint32_t index, std::string_view name) {
    return "entry " + std::to_string(index) + " " + QuoteName(name);
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return lower;
}

// Offsets of the signature text that are not followed by a valid seal, before
// `limit`: the setup program's own copy in its data is one of them.
std::vector<size_t> UnsealedSignatures(const uint8_t* image, size_t limit) {
    std::vector<size_t> found;
    const uint8_t* at = image;
    const uint8_t* end = image + limit;
    while (size_t(end - at) >= kSignatureSize) {
        const uint8_t* hit = std::search(at, end, kSignature, kSignature + kSignatureSize);
        if (hit == end) {
            break;
        }
        found.push_back(size_t(hit - image));
        at = hit + 1;
    }
    return found;
}

// Explains a record the walker called damaged: which part of it runs past the
// end of the entries area.
std::string DescribeBrokenRecord(const uint8_t* area, size_t areaSize, size_t position,
                                 uint32_t index) {
    const size_t left = areaSize - position;
    const std::string label = "entry " + std::to_string(index);
    if (left < kEntryHeadSize) {
        return label + ": record head runs past the end of the entries area (" +
               std::to_string(left) + " of " + std::to_string(kEntryHeadSize) + " bytes present)";
    }
    const uint8_t* head = area + position;
    const uint32_t packedSize = ReadLittleEndian32(head);
    const uint32_t nameLength = ReadLittleEndian32(head + 4);
    const size_t afterHead = left - kEntryHeadSize;
    if (nameLength > afterHead) {
        return label + ": name (" + std::to_string(nameLength) +
               " bytes) runs past the end of the entries area (" + std::to_string(afterHead) +
               " bytes left)";
    }
    const std::string_view name(reinterpret_cast<const char*>(head + kEntryHeadSize), nameLength);
    return EntryLabel(index, name) + ": packed data (" + std::to_string(packedSize) +
           " bytes) runs past the end of the entries area (" +
           std::to_string(afterHead - nameLength) + " bytes left)";
}

} // namespace

std::string Hex(uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + text;
}

std::string QuoteName(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            if (c == '"' || c == '\\') {
                quoted += '\\';
                quoted += c;
            } else {
                static const char digits[] = "0123456789abcdef";
                quoted += "\\x";
                quoted += digits[byte >> 4];
                quoted += digits[byte & 15];
            }
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string DescribeNameFault(std::string_view name) {
    const char* fault = package::EntryNameFault(name);
    return fault != nullptr ? fault : std::string();
}

std::optional<CertificateTable> FindCertificateTable(const uint8_t* image, size_t length) {
    if (length < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        return std::nullopt;
    }
    const size_t peOffset = ReadLittleEndian32(image + 0x3C);
    // PE signature (4) + file header (20), then the optional header.
    if (peOffset > length || length - peOffset < 24 ||
        std::memcmp(image + peOffset, "PE\0\0", 4) != 0) {
        return std::nullopt;
    }
    const size_t optionalSize = ReadLittleEndian16(image + peOffset + 20);
    const size_t optional = peOffset + 24;
    if (optionalSize > length - optional || optionalSize < 2) {
        return std::nullopt;
    }
    const uint16_t magic = ReadLittleEndian16(image + optional);
    size_t countAt = 0;
    if (magic == 0x10B) { // PE32
        countAt = 92;
    } else if (magic == 0x20B) { // PE32+
        countAt = 108;
    } else {
        return std::nullopt;
    }
    const size_t securityAt = countAt + 4 + 4 * 8;
    if (optionalSize < securityAt + 8 || ReadLittleEndian32(image + optional + countAt) < 5) {
        return std::nullopt;
    }
    // Unlike the other directories, the security directory holds a file
    // offset, not a virtual address.
    CertificateTable table;
    table.offset = ReadLittleEndian32(image + optional + securityAt);
    table.size = ReadLittleEndian32(image + optional + securityAt + 4);
    if (table.offset == 0 || table.size == 0) {
        return std::nullopt;
    }
    return table;
}

PackageInspection InspectPackage(const uint8_t* image, size_t length) {
    PackageInspection inspection;
    inspection.certificateTable = FindCertificateTable(image, length);

    const auto located = package::LocatePackage(image, length);
    if (!located) {
        const std::vector<size_t> unsealed = UnsealedSignatures(image, length);
        std::string problem = "no sealed package header found";
        const size_t sealedSize = kSignatureSize + 1 + package::kSealBlockSize;
        if (!unsealed.empty() && length - unsealed.back() < sealedSize) {
            // A file cut inside the header: the text is there, its seal is not.
            problem += ": the signature text at offset " + std::to_string(unsealed.back()) +
                       " is followed by " +
                       std::to_string(length - unsealed.back() - kSignatureSize) +
                       " bytes, too few for its seal; the file is cut short";
        } else if (!unsealed.empty()) {
            problem += " (the signature text occurs " + std::to_string(unsealed.size()) +
                       " time(s) without a valid seal, first at offset " +
                       std::to_string(unsealed.front()) + ")";
        }
        inspection.problems.push_back(problem);
        return inspection;
    }
    inspection.headerFound = true;
    const size_t offset = *located;
    inspection.header.offset = offset;
    inspection.header.sealByte = image[offset + kSignatureSize];
    if (length - offset < kHeaderSize) {
        inspection.problems.push_back("package header at offset " + std::to_string(offset) +
                                      " is cut short: " + std::to_string(length - offset) + " of " +
                                      std::to_string(kHeaderSize) + " bytes present");
        return inspection;
    }
    package::PackageHeader& header = inspection.header;
    if (!package::ReadHeader(image, length, offset, &header)) {
        inspection.problems.push_back(
            "entries area runs past the end of the file: the header at offset " +
            std::to_string(offset) + " announces " + std::to_string(header.entriesAreaSize) +
            " bytes, only " + std::to_string(length - offset - kHeaderSize) + " follow it");
        return inspection;
    }

    if (const auto later = package::LocatePackage(image + offset + 1, length - offset - 1)) {
        inspection.warnings.push_back("a second package header at offset " +
                                      std::to_string(offset + 1 + *later) +
                                      " is ignored: the reader uses the first one");
    }
    const size_t areaEnd = header.EntriesAreaOffset() + header.entriesAreaSize;
    if (inspection.certificateTable) {
        if (offset >= inspection.certificateTable->offset) {
            inspection.warnings.push_back(
                "the package lies after the Authenticode certificate table: it was appended "
                "after signing, so the signature no longer verifies");
        } else if (areaEnd > inspection.certificateTable->offset) {
            inspection.warnings.push_back(
                "the entries area overlaps the Authenticode certificate table");
        }
    }

    const uint8_t* area = image + header.EntriesAreaOffset();
    const Md5Digest areaDigest = Md5::Of(area, header.entriesAreaSize);
    if (areaDigest != header.entriesDigest) {
        inspection.problems.push_back("entries-area digest mismatch: the header records " +
                                      ToHex(header.entriesDigest) + ", the " +
                                      std::to_string(header.entriesAreaSize) +
                                      "-byte area hashes to " + ToHex(areaDigest));
    }

    // Walked even when the area digest failed, to point at the damaged entry.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferSize]);
    std::map<std::string, uint32_t, std::less<>> indexByName;
    std::map<std::string, std::string> nameByLowerName;
    EntryWalker walker(area, header.entriesAreaSize, header.entryCount);
    for (uint32_t index = 1;; ++index) {
        const size_t position = walker.Position();
        EntryRecord record;
        const EntryWalker::Step step = walker.Next(&record);
        if (step == EntryWalker::Step::End) {
            if (walker.Position() < header.entriesAreaSize) {
                inspection.warnings.push_back(
                    std::to_string(header.entriesAreaSize - walker.Position()) +
                    " bytes after the last entry in the entries area are ignored");
            }
            break;
        }
        if (step == EntryWalker::Step::Damaged) {
            inspection.problems.push_back(
                DescribeBrokenRecord(area, header.entriesAreaSize, position, index));
            break;
        }
        EntryFacts facts;
        facts.index = index;
        facts.name = std::string(record.name);
        facts.recordOffset = header.EntriesAreaOffset() + position;
        facts.packedSize = record.packedSize;
        facts.recordedDigest = record.contentDigest;
        const std::string label = EntryLabel(index, record.name);
        std::string content;
        try {
            facts.inflated = package::InflateStream(record.packedData, record.packedSize,
                                                    buffer.get(), kInflateBufferSize, &content);
        } catch (const std::bad_alloc&) {
            inspection.problems.push_back(label + ": unpacked content does not fit in memory");
        }
        if (facts.inflated) {
            facts.unpackedSize = content.size();
            facts.actualDigest = Md5::Of(content.data(), content.size());
            if (content.empty()) {
                inspection.problems.push_back(label + ": packed data inflates to nothing");
            } else if (facts.actualDigest != facts.recordedDigest) {
                inspection.problems.push_back(label + ": content digest mismatch: recorded " +
                                              ToHex(facts.recordedDigest) + ", content hashes to " +
                                              ToHex(facts.actualDigest));
            }
        } else {
            inspection.problems.push_back(label +
                                          ": packed data does not inflate (not a complete zlib "
                                          "stream)");
        }
        const std::string fault = DescribeNameFault(record.name);
        if (!fault.empty()) {
            inspection.warnings.push_back(label + ": not a plain file name (" + fault +
                                          "); extract refuses it");
        }
        const auto [earlier, fresh] = indexByName.emplace(facts.name, index);
        if (!fresh) {
            inspection.warnings.push_back(label + " repeats the name of entry " +
                                          std::to_string(earlier->second) +
                                          "; the reader keeps the later one");
            earlier->second = index;
        } else {
            const auto [other, unique] =
                nameByLowerName.emplace(AsciiLower(facts.name), facts.name);
            if (!unique) {
                inspection.warnings.push_back(label + " and " + QuoteName(other->second) +
                                              " differ only in letter case; Windows cannot "
                                              "keep both in one folder");
            }
        }
        inspection.entries.push_back(std::move(facts));
    }
    return inspection;
}

} // namespace corvane::pack
