// korvel node pool: the memo tables' nodes as fixed-size blocks, handed out in
// order from huge-page chunks that last as long as the process, and the
// tables' allocator, which counts what each table holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "huge_pages.hpp"

namespace korvel::detail {

// ---- Contents -------------------------------------------------------------
// Blocks of one size, from chunks of one huge page each; a released block is
// handed out again first. `block_pool<Size, Alignment>` is the one pool of
// each block size.
template <std::size_t BlockSize, std::size_t BlockAlignment>
class BlockPool;

// The bytes one table holds: its nodes, and the rest (bucket arrays, and
// bucket groups where Boost has them).
struct TableBytes {
    std::size_t nodes = 0;
    std::size_t buckets = 0;
};

// The memo tables' allocator: every node from the pool of its size; arrays
// that fill a huge page or more (a full table's bucket arrays) on huge pages
// of their own; anything else from the heap. `is_node_of<T, Entry>` tells a node
// from the rest. Counts into the table's TableBytes, where it is given one.
template <typename T, typename Entry = T>
struct NodePoolAllocator;

// Blocks handed out by all pools and not given back.
std::size_t pool_blocks_in_use();

// ---- Definitions --------------------------------------------------------------
inline std::size_t blocks_in_use = 0;
inline std::size_t pool_blocks_in_use() { return blocks_in_use; }

template <std::size_t BlockSize, std::size_t BlockAlignment>
class BlockPool {
public:
    static_assert(BlockAlignment <= huge_page_bytes, "chunks are aligned to a huge page");

    constexpr BlockPool() = default;
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    void* allocate() {
        if (free_ == nullptr && next_ == chunk_end_) add_chunk();
        ++blocks_in_use;
        if (free_ != nullptr) return std::exchange(free_, free_->next);
        return std::exchange(next_, next_ + block_size);
    }

    void release(void* block) noexcept {
        --blocks_in_use;
        free_ = ::new (block) FreeBlock{free_};
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    // Chunks are chained through a header, so that they stay reachable.
    struct ChunkHeader {
        ChunkHeader* previous;
    };

    static constexpr std::size_t round_up(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }
    static constexpr std::size_t alignment = std::max(BlockAlignment, alignof(FreeBlock));
    static constexpr std::size_t block_size = round_up(std::max(BlockSize, sizeof(FreeBlock)), alignment);
    static constexpr std::size_t header_size = round_up(sizeof(ChunkHeader), alignment);
    static constexpr std::size_t blocks_per_chunk = (huge_page_bytes - header_size) / block_size;

    void add_chunk() {
        auto* chunk = static_cast<std::byte*>(map_huge_pages(huge_page_bytes));
        chunks_ = ::new (chunk) ChunkHeader{chunks_};
        next_ = chunk + header_size;
        chunk_end_ = next_ + blocks_per_chunk * block_size;
    }

    std::byte* next_ = nullptr;
    std::byte* chunk_end_ = nullptr;
    FreeBlock* free_ = nullptr;
    ChunkHeader* chunks_ = nullptr;
};

// Constant-initialised and never destroyed, so that a table destroyed at exit
// can still give its nodes back.
template <std::size_t BlockSize, std::size_t BlockAlignment>
inline BlockPool<BlockSize, BlockAlignment> block_pool;
static_assert(std::is_trivially_destructible_v<BlockPool<sizeof(void*), alignof(void*)>>, "a pool is never destroyed");

template <typename T, typename Entry, typename = void>
struct holds_entry : std::false_type {};
template <typename T, typename Entry>
struct holds_entry<T, Entry, std::void_t<typename T::value_type>>
    : std::bool_constant<std::is_class_v<T> && std::is_same_v<typename T::value_type, Entry>> {};

// A node is a class that holds one entry, as Boost's nodes declare with their
// nested value_type; bucket arrays and bucket groups are not, whatever their size.
template <typename T, typename Entry>
inline constexpr bool is_node_of = holds_entry<T, Entry>::value;

template <typename T, typename Entry>
struct NodePoolAllocator {
    using value_type = T;

    NodePoolAllocator() = default;
    explicit NodePoolAllocator(TableBytes* table_bytes) noexcept : bytes(table_bytes) {}
    template <typename U>
    NodePoolAllocator(const NodePoolAllocator<U, Entry>& other) noexcept : bytes(other.bytes) {}

    T* allocate(std::size_t n) {
        T* p = nullptr;
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1) p = static_cast<T*>(block_pool<sizeof(T), alignof(T)>.allocate());
        }
        if (p == nullptr) p = n * sizeof(T) >= huge_array_bytes ? static_cast<T*>(map_huge_pages(n * sizeof(T)))
                                                                : std::allocator<T>().allocate(n);
        count(n, true);
        return p;
    }

    void deallocate(T* p, std::size_t n) noexcept {
        count(n, false);
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1) return block_pool<sizeof(T), alignof(T)>.release(p);
        }
        if (n * sizeof(T) >= huge_array_bytes) return unmap_huge_pages(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    friend bool operator==(const NodePoolAllocator& a, const NodePoolAllocator& b) { return a.bytes == b.bytes; }
    friend bool operator!=(const NodePoolAllocator& a, const NodePoolAllocator& b) { return a.bytes != b.bytes; }

    // Where the table's bytes are counted; none for a table that is not.
    TableBytes* bytes = nullptr;

private:
    // An array this large is a table's bucket array at its full size: page
    // translations are scarce for what every lookup touches at random.
    static constexpr std::size_t huge_array_bytes = huge_page_bytes;

    void count(std::size_t n, bool allocated) noexcept {
        if (bytes == nullptr) return;
        std::size_t& counted = is_node_of<T, Entry> && n == 1 ? bytes->nodes : bytes->buckets;
        if (allocated)
            counted += n * sizeof(T);
        else
            counted -= n * sizeof(T);
    }
};

}  // namespace korvel::detail
