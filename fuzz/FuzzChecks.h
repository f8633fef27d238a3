#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

// A broken property is a crash, so libFuzzer keeps the input that caused it.
inline void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace fuzz
