// korvel search probe: what a test build of the solver records of every search.
// Compiled in only with KORVEL_SEARCH_PROBE; the library that ships has none.
#pragma once

#include <cstdint>
#include <limits>

namespace korvel::search_probe {

// Calls of `search`, nested ones included, since the last reset.
inline std::uint64_t calls = 0;
// The least and greatest value any of those calls returned.
inline int least_value = std::numeric_limits<int>::max();
inline int greatest_value = std::numeric_limits<int>::min();
// When not 0, the call with this number throws std::bad_alloc once it has
// stored its value, as an exhausted memory would.
inline std::uint64_t fail_at_call = 0;

inline void reset() {
    calls = 0;
    least_value = std::numeric_limits<int>::max();
    greatest_value = std::numeric_limits<int>::min();
    fail_at_call = 0;
}

}  // namespace korvel::search_probe
