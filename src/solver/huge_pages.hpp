// korvel huge pages: memory for the memo tables in whole 2 MiB pages, so that
// the lookups that wander across them miss in the address translation cache
// as seldom as they can.
#pragma once

#include <cstddef>

namespace korvel::detail {

inline constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

// `bytes` of zeroed memory aligned to a huge page, whose whole huge pages are
// asked to be backed as such where the system offers them (on Linux,
// transparent huge pages in "always" or "madvise" mode); elsewhere, and in a
// last part-filled page, they are ordinary pages, and nothing is said. Throws
// std::bad_alloc when the system has no memory to give.
void* map_huge_pages(std::size_t bytes);

// Gives back what map_huge_pages(bytes) gave, with the same `bytes`.
void unmap_huge_pages(void* memory, std::size_t bytes) noexcept;

}  // namespace korvel::detail
