// korvel huge pages: aligned anonymous mappings, advised for huge pages.
#include "huge_pages.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace korvel::detail {
namespace {

constexpr std::size_t whole_pages(std::size_t bytes) {
    return (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
}

}  // namespace

void* map_huge_pages(std::size_t bytes) {
    const std::size_t length = whole_pages(bytes);
    // The kernel aligns a mapping to ordinary pages only: map a huge page
    // more, and give back what lies before and after the aligned stretch.
    void* mapped = mmap(nullptr, length + huge_page_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + huge_page_bytes - 1) & ~std::uintptr_t{huge_page_bytes - 1};
    if (aligned > start) munmap(mapped, aligned - start);
    if (const std::uintptr_t after = start + huge_page_bytes - aligned; after > 0)
        munmap(reinterpret_cast<void*>(aligned + length), after);
    auto* memory = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    // Only the huge pages the request fills: a part-used one would take a
    // whole 2 MiB at its first touch. Refused where the kernel has no
    // transparent huge pages: ordinary pages serve the same, only slower.
    if (const std::size_t filled = bytes / huge_page_bytes * huge_page_bytes; filled > 0)
        madvise(memory, filled, MADV_HUGEPAGE);
#endif
    return memory;
}

void unmap_huge_pages(void* memory, std::size_t bytes) noexcept { munmap(memory, whole_pages(bytes)); }

}  // namespace korvel::detail
