// The Welcome page's check messages and the licence stream's chunks.
#include "welcome_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using corvane::wizard::InsertDisplayName;
using corvane::wizard::LicenseChunkSize;

TEST(InsertDisplayName, PutsTheNameWhereTheMessageAsksAndLeavesForeignPercentSignsAlone) {
    const struct {
        const char* message;
        const char* expected;
    } cases[] = {
        // The damaged-package message names the product.
        {"Please download the latest version of %s again!",
         "Please download the latest version of Corvane again!"},
        {"%s and %s", "Corvane and Corvane"},
        {"100%% sure", "100% sure"},
        // An installed version read from the registry that looks like a
        // format: printf would write memory (%n) or read missing arguments.
        {"uninstall version 9.%n%x%d first.", "uninstall version 9.%n%x%d first."},
        {"ends with %", "ends with %"},
        {"%%s stays literal", "%s stays literal"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InsertDisplayName(c.message, "Corvane"), c.expected) << c.message;
    }
}

TEST(LicenseChunkSize, HandsOverTheTextOnceAndThenEnds) {
    const struct {
        uint32_t size;
        uint32_t position;
        int32_t requested;
        int32_t expected;
    } cases[] = {
        {16174, 0, 4096, 4096},
        {16174, 12288, 4096, 3886},
        {16174, 16174, 4096, 0},
        {16174, 20000, 4096, 0}, // a position past the end never wraps round
        {0, 0, 4096, 0},
        {10, 0, 0, 0},
        {10, 0, -5, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LicenseChunkSize(c.size, c.position, c.requested), c.expected)
            << c.size << " " << c.position << " " << c.requested;
    }
}

} // namespace
