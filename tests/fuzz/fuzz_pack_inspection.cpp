// Fuzzes corvane-pack's own walk of a package: whatever the bytes, it must
// not crash, and it must find a fault exactly when the setup program's reader
// refuses the package, so verify never explains a verdict it did not reach.
//
// Raw input rarely gets past the entries-area digest, so when the first byte
// is odd the digest of whatever area the header announces is made right
// first, and the walk reaches the records, the inflater and the names.
#include "md5.h"
#include "package_format.h"
#include "package_inspection.h"
#include "packed_tools.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

namespace package = corvane::package;

void Reseal(std::vector<uint8_t>* image) {
    const auto offset = package::LocatePackage(image->data(), image->size());
    package::PackageHeader header;
    if (!offset || !package::ReadHeader(image->data(), image->size(), *offset, &header)) {
        return;
    }
    const corvane::Md5Digest digest =
        corvane::Md5::Of(image->data() + header.EntriesAreaOffset(), header.entriesAreaSize);
    std::memcpy(image->data() + *offset + 72, digest.bytes, 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    if (size > 0 && (data[0] & 1) != 0) {
        Reseal(&image);
    }
    static CPackedTools reader;
    const bool loaded = reader.LoadFromImage(image.data(), image.size()) == 1;
    const corvane::pack::PackageInspection inspection =
        corvane::pack::InspectPackage(image.data(), image.size());
    if (loaded != inspection.problems.empty()) {
        std::fprintf(stderr, "reader %s, walk found %zu fault(s)%s%s\n",
                     loaded ? "loads" : "refuses", inspection.problems.size(),
                     inspection.problems.empty() ? "" : ", first: ",
                     inspection.problems.empty() ? "" : inspection.problems.front().c_str());
        std::abort();
    }
    for (const corvane::pack::EntryFacts& entry : inspection.entries) {
        // Names are shown to users; quoting must survive any byte.
        (void)corvane::pack::QuoteName(entry.name);
    }
    return 0;
}
