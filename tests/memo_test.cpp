// Tests of the memo keys: their equality and their hash.
#include "solver/memo.hpp"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include <boost/container_hash/hash.hpp>
#include <gtest/gtest.h>

#include "printers.hpp"

namespace korvel {
namespace {

using AsPairs = std::pair<std::vector<std::pair<int, int>>, bool>;

AsPairs as_pairs(const MemoKey& k) {
    const Position p = k.position();
    return AsPairs{{{p.defending_king.x, p.defending_king.y},
                    {p.attacking_king.x, p.attacking_king.y},
                    {p.rook.x, p.rook.y}},
                   k.attacker_to_move()};
}

// The memo tables find and store every key by one hash function, so the two cannot
// disagree: a store that missed its key would keep the shallower entry, and a
// build would then never end. That hash is boost::hash of the key read as a
// pair (sequence of (x, y) pairs, flag), checked here for every key there can
// be, squares shared and positions that never occur in play among them. The
// key's number gives its squares and side back.
TEST(memo_key_test, the_memo_tables_hash_is_boost_hash_of_every_key_as_pairs) {
    prepare_key_hashes();
    std::size_t keys = 0;
    for (const SquareIndex defending_king : triangle_squares)
        for (const bool attacker_to_move : {false, true})
            for (SquareIndex attacking_king = 0; attacking_king < square_count; ++attacking_king)
                for (SquareIndex rook = 0; rook < square_count; ++rook) {
                    const MemoKey k(PositionSquares{defending_king, attacking_king, rook}, attacker_to_move);
                    ASSERT_EQ(MemoTable::hasher()(k), boost::hash<AsPairs>()(as_pairs(k))) << k.position();
                    ASSERT_EQ(k.squares(), (PositionSquares{defending_king, attacking_king, rook}));
                    ASSERT_EQ(k.attacker_to_move(), attacker_to_move);
                    ASSERT_LT(k.number, memo_key_count);
                    ++keys;
                }
    EXPECT_EQ(keys, memo_key_count);
    const MemoKey key{{{3, 4}, {6, 7}, {0, 1}}, true};
    const MemoKey mirror{{{3, 4}, {0, 1}, {6, 7}}, true};
    EXPECT_FALSE(key == mirror);
    EXPECT_FALSE(key == (MemoKey{key.position(), false}));
}

// The memo tables' node arena and bucket arrays are mapped whole: memory the
// system refuses must end in bad_alloc, as the heap's does (and so in
// MemoryError), and what it gives must be usable to its last byte.
TEST(memo_memory_test, huge_page_memory_is_usable_and_a_refusal_throws) {
    EXPECT_THROW(detail::map_huge_pages(std::size_t{1} << 60), std::bad_alloc);
    const std::size_t bytes = detail::huge_page_bytes + 3;
    auto* memory = static_cast<unsigned char*>(detail::map_huge_pages(bytes));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % detail::huge_page_bytes, 0u);
    EXPECT_EQ(memory[0], 0);
    EXPECT_EQ(memory[bytes - 1], 0);
    memory[0] = memory[bytes - 1] = 1;
    detail::unmap_huge_pages(memory, bytes);
}

}  // namespace
}  // namespace korvel
