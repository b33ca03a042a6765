// corvane-pack's own walk of a package must find a fault exactly when the reader refuses
// it. For an odd first byte the area digest is made right first, to get past it.
#include "fuzz_support.h"
#include "package_inspection.h"
#include "package_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace package = corvane::package;
    std::vector<uint8_t> image(data, data + size);
    const auto offset = package::LocatePackage(image.data(), image.size());
    package::PackageHeader header;
    if (size > 0 && (data[0] & 1) != 0 && offset &&
        package::ReadHeader(image.data(), image.size(), *offset, &header)) {
        corvane::testing::ResealArea(&image, *offset);
    }
    static CPackedTools reader;
    const bool loaded = reader.LoadFromImage(image.data(), image.size()) == 1;
    const corvane::pack::PackageInspection inspection =
        corvane::pack::InspectPackage(image.data(), image.size());
    Require(loaded == inspection.problems.empty()); // the walk and the reader agree
    for (const corvane::pack::EntryFacts& entry : inspection.entries) {
        (void)corvane::pack::QuoteName(entry.name); // shown to users: must survive any byte
    }
    return 0;
}
