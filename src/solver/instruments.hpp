// korvel instruments: what the instrumented solver, which the tests link,
// counts of every search, and where it makes one fail. Compiled in only with
// KORVEL_INSTRUMENTED; the library that ships has none.
#pragma once

#include <cstdint>
#include <limits>

namespace korvel::instruments {

// Calls of `search`, nested ones included, since the last reset.
inline std::uint64_t calls = 0;
// The least and greatest value any of those calls returned.
inline int least_value = std::numeric_limits<int>::max();
inline int greatest_value = std::numeric_limits<int>::min();
// Calls of search made by the table build itself.
inline std::uint64_t root_calls = 0;
// Memo table nodes handed out.
inline std::uint64_t nodes = 0;

// Each, when not 0, makes the numbered event throw std::bad_alloc, as an
// exhausted memory would: the call of search (once it has stored its value),
// the table build's call (once it has returned), or the request for a memo
// table node. Nodes are asked for in pairs, a key's entry in either table, so
// an even number fails a new key's second insert.
inline std::uint64_t fail_at_call = 0;
inline std::uint64_t fail_at_root_call = 0;
inline std::uint64_t fail_at_node = 0;

inline void reset() {
    calls = 0;
    root_calls = 0;
    nodes = 0;
    least_value = std::numeric_limits<int>::max();
    greatest_value = std::numeric_limits<int>::min();
    fail_at_call = 0;
    fail_at_root_call = 0;
    fail_at_node = 0;
}

}  // namespace korvel::instruments
