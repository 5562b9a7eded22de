// korvel node pool: the memo tables' nodes as fixed-size blocks, handed out in
// order from chunks that last as long as the process.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace korvel::detail {

// ---- Contents -------------------------------------------------------------
// Blocks of one size, from chunks of 2048; a released block is handed out again
// first. `block_pool<Size, Alignment>` is the one pool of each block size.
template <std::size_t BlockSize, std::size_t BlockAlignment>
class BlockPool;

// The memo tables' allocator: every node from the pool of its size, anything
// else (bucket arrays, bucket groups) from the heap. `is_node_of<T, Entry>`
// tells a node from the rest.
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
    static_assert(BlockAlignment <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "chunks come from plain operator new");

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
    static constexpr std::size_t blocks_per_chunk = 2048;

    void add_chunk() {
        auto* chunk = static_cast<std::byte*>(::operator new(header_size + blocks_per_chunk * block_size));
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
    template <typename U>
    NodePoolAllocator(const NodePoolAllocator<U, Entry>&) noexcept {}

    T* allocate(std::size_t n) {
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1) return static_cast<T*>(block_pool<sizeof(T), alignof(T)>.allocate());
        }
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1) return block_pool<sizeof(T), alignof(T)>.release(p);
        }
        std::allocator<T>().deallocate(p, n);
    }

    friend bool operator==(const NodePoolAllocator&, const NodePoolAllocator&) { return true; }
    friend bool operator!=(const NodePoolAllocator&, const NodePoolAllocator&) { return false; }
};

}  // namespace korvel::detail
