// korvel node arena: the memo tables' nodes in one mapping with a slot for
// every memo key, where the key's nodes in the two tables lie side by side, and
// the tables' allocator, which counts what each table holds.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "huge_pages.hpp"

namespace korvel::detail {

// Asks the memory ahead for the cache line at the address; the address is a
// number, not a pointer, as it may be none that the program owns.
inline void prefetch(std::uintptr_t address) { __builtin_prefetch(reinterpret_cast<const void*>(address)); }

// A slot for each of `slot_count` keys, each slot two nodes wide: a key's node
// in either table, at an address the key alone gives, so that a lookup's node
// can be asked of the memory before the lookup reads its bucket. Mapped whole
// at the first node, on huge pages where the system offers them, and kept for
// the life of the process; pages no key reaches take no memory.
class NodeArena {
public:
    explicit constexpr NodeArena(std::size_t slot_count) : slot_count_(slot_count) {}
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    // The key whose nodes the tables ask for next: set before inserting it.
    void set_next_key(std::size_t key_number) { next_key_ = key_number; }

    // The next key's node in the table with the given half of the slot. A
    // table holds a key at most once, so the node is free; throws
    // std::bad_alloc if the arena cannot be mapped.
    template <typename Node>
    Node* node(std::size_t half);
    void release() noexcept { --nodes_in_use_; }

    // Asks the memory ahead for the key's slot (before the first node, for an
    // address near 0: a prefetch never faults).
    void prefetch(std::size_t key_number) const { detail::prefetch(slots_address_ + key_number * slot_bytes_); }

    std::size_t nodes_in_use() const { return nodes_in_use_; }
    std::size_t mapped_bytes() const { return slot_count_ * slot_bytes_; }

private:
    std::byte* slots_ = nullptr;
    std::uintptr_t slots_address_ = 0;
    std::size_t slot_bytes_ = 0;  // two nodes, rounded up to a power of two: a slot never straddles a cache line
    std::size_t slot_count_;
    std::size_t next_key_ = 0;
    std::size_t nodes_in_use_ = 0;
};

// What one table holds: its nodes, and the rest (bucket arrays, and bucket
// groups where Boost has them), in bytes; its half of each arena slot; and
// where its bucket array starts, for asking a lookup's bucket ahead.
struct TableMemory {
    std::size_t node_bytes = 0;
    std::size_t bucket_bytes = 0;
    std::size_t arena_half = 0;
    std::uintptr_t bucket_array = 0;

    // Asks the memory ahead for the bucket of the given number: Boost's
    // buckets are one pointer each, in order.
    void prefetch_bucket(std::size_t bucket) const { detail::prefetch(bucket_array + bucket * sizeof(void*)); }
};

// The memo tables' allocator: every node from the arena, in its key's slot;
// arrays that fill a huge page or more (a full table's bucket arrays) on huge
// pages of their own; anything else from the heap. `is_node_of<T, Entry>`
// tells a node from the rest.
template <typename T, typename Entry = T>
struct NodeArenaAllocator;

// ---- Definitions --------------------------------------------------------------
template <typename Node>
Node* NodeArena::node(std::size_t half) {
    static_assert(std::is_class_v<Node>);
    constexpr std::size_t node_bytes = (sizeof(Node) + alignof(Node) - 1) / alignof(Node) * alignof(Node);
    constexpr std::size_t slot_bytes = [] {
        std::size_t bytes = 1;
        while (bytes < 2 * node_bytes) bytes *= 2;
        return bytes;
    }();
    static_assert(slot_bytes <= huge_page_bytes, "slots are aligned to their size within the mapping");
    if (slots_ == nullptr) {
        slots_ = static_cast<std::byte*>(map_huge_pages(slot_count_ * slot_bytes));
        slots_address_ = reinterpret_cast<std::uintptr_t>(slots_);
        slot_bytes_ = slot_bytes;
    }
    assert(slot_bytes_ == slot_bytes && next_key_ < slot_count_ && half < 2);
    ++nodes_in_use_;
    return reinterpret_cast<Node*>(slots_ + next_key_ * slot_bytes + half * node_bytes);
}

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
struct NodeArenaAllocator {
    using value_type = T;

    NodeArenaAllocator() = default;
    NodeArenaAllocator(NodeArena* node_arena, TableMemory* table_memory) noexcept
        : arena(node_arena), memory(table_memory) {}
    template <typename U>
    NodeArenaAllocator(const NodeArenaAllocator<U, Entry>& other) noexcept
        : arena(other.arena), memory(other.memory) {}

    T* allocate(std::size_t n) {
        T* p = nullptr;
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1 && arena != nullptr) p = arena->node<T>(memory->arena_half);
        }
        if (p == nullptr) p = n * sizeof(T) >= huge_array_bytes ? static_cast<T*>(map_huge_pages(n * sizeof(T)))
                                                                : std::allocator<T>().allocate(n);
        count(p, n, true);
        return p;
    }

    void deallocate(T* p, std::size_t n) noexcept {
        count(p, n, false);
        if constexpr (is_node_of<T, Entry>) {
            if (n == 1 && arena != nullptr) return arena->release();
        }
        if (n * sizeof(T) >= huge_array_bytes) return unmap_huge_pages(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    friend bool operator==(const NodeArenaAllocator& a, const NodeArenaAllocator& b) {
        return a.arena == b.arena && a.memory == b.memory;
    }
    friend bool operator!=(const NodeArenaAllocator& a, const NodeArenaAllocator& b) { return !(a == b); }

    // Where the nodes come from and the table's bytes are counted; none for a
    // table that has neither.
    NodeArena* arena = nullptr;
    TableMemory* memory = nullptr;

private:
    // An array this large is a table's bucket array at its full size: page
    // translations are scarce for what every lookup touches at random.
    static constexpr std::size_t huge_array_bytes = huge_page_bytes;

    void count(T* p, std::size_t n, bool allocated) noexcept {
        if (memory == nullptr) return;
        constexpr bool node = is_node_of<T, Entry>;
        std::size_t& counted = node && n == 1 ? memory->node_bytes : memory->bucket_bytes;
        if (allocated)
            counted += n * sizeof(T);
        else
            counted -= n * sizeof(T);
        // The array of one-pointer buckets; a bucket array made anew replaces
        // the last before it is released.
        if constexpr (!node && sizeof(T) == sizeof(void*)) {
            const auto array = reinterpret_cast<std::uintptr_t>(p);
            if (allocated)
                memory->bucket_array = array;
            else if (array == memory->bucket_array)
                memory->bucket_array = 0;
        }
    }
};

}  // namespace korvel::detail
