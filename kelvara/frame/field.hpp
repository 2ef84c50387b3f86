// The field list of a packed C record (pure C++, so that the record twins and the kernels that
// use them need no Python.h).
#pragma once

#include <cstddef>

namespace frame {

/// One field of a C record: its name, byte offset and number of doubles (3 for a vector).
struct Field {
    const char* name;
    std::size_t offset;
    std::size_t count;
};

}  // namespace frame
