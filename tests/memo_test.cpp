// Tests of the memo keys: their equality and their hash.
#include "solver/memo.hpp"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

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
                   k.attacker_to_move};
}

// The key hashes as the pair (sequence of (x, y) pairs, flag) would.
TEST(memo_key_test, hash_is_boost_hash_of_the_key_as_pairs) {
    for (int d = 0; d < 64; ++d)
        for (int a = 0; a < 64; ++a)
            for (int r = 0; r < 64; r += 7)
                for (bool flag : {false, true}) {
                    const MemoKey k{{{d / 8, d % 8}, {a / 8, a % 8}, {r / 8, r % 8}}, flag};
                    ASSERT_EQ(boost::hash<MemoKey>()(k), boost::hash<AsPairs>()(as_pairs(k))) << k.position();
                }
    const MemoKey key{{{3, 4}, {6, 7}, {0, 1}}, true};
    const MemoKey mirror{{{3, 4}, {0, 1}, {6, 7}}, true};
    EXPECT_FALSE(key == mirror);
    EXPECT_FALSE(key == (MemoKey{key.position(), false}));
    EXPECT_EQ(key.position(), (Position{{3, 4}, {6, 7}, {0, 1}}));
}

// The memo works out its keys' hashes ahead, apart from hash_value; a wrong
// one changes no value, only how the tables are filled. Every key the table
// holds is checked, squares shared and positions that never occur in play
// among them.
TEST(memo_key_test, precomputed_hashes_are_boost_hash_of_every_key) {
    prepare_key_hashes();
    int keys = 0;
    for (int d = 0; d < square_count; ++d) {
        if (!in_canonical_triangle(square_at(SquareIndex(d)))) continue;
        for (bool flag : {false, true})
            for (int a = 0; a < square_count; ++a)
                for (int r = 0; r < square_count; ++r) {
                    const HashedKey k = canonical_memo_key(SquareIndex(d), SquareIndex(a), SquareIndex(r), flag);
                    ASSERT_EQ(k.hash, boost::hash<AsPairs>()(as_pairs(k.key))) << k.key.position() << ' ' << flag;
                    ++keys;
                }
    }
    EXPECT_EQ(keys, 2 * triangle_square_count * square_count * square_count);
}

// The tables' node chunks and bucket arrays are mapped whole: memory the
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
