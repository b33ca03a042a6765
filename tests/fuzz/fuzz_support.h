// What the fuzz targets share: a failed check ends the run so that libFuzzer keeps the input.
#pragma once

#include "shift_jis.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}
