// SPDX-License-Identifier: MIT
// The owner of what libxcb hands out from malloc (replies, errors, events): freed with free.
#pragma once

#include <cstdlib>
#include <memory>

namespace glyphrain {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

template <class T> using XcbPtr = std::unique_ptr<T, FreeDeleter>;

} // namespace glyphrain
