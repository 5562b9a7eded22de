// Tests of the search: canonical orientation, the value scale and the memo rules.
#include "solver/search.hpp"

#include <array>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "memo_fixture.hpp"
#include "printers.hpp"

namespace korvel {
namespace {

using search_test = fresh_solver;

Position canonical(const Position& p) { return canonical_position(p.defending_king, p.attacking_king, p.rook); }

int search(const Position& p, bool attacker_to_move, int depth) {
    return korvel::search(p.defending_king, p.attacking_king, p.rook, attacker_to_move, depth);
}

// The eight symmetries of the board.
Square board_symmetry(int which, Square s) {
    const std::int32_t x = (which & 1) ? 7 - s.x : s.x;
    const std::int32_t y = (which & 2) ? 7 - s.y : s.y;
    return (which & 4) ? Square{y, x} : Square{x, y};
}

Position board_symmetry(int which, const Position& p) {
    return {board_symmetry(which, p.defending_king), board_symmetry(which, p.attacking_king),
            board_symmetry(which, p.rook)};
}

bool on_anti_diagonal(Square s) { return s.x + s.y == 7; }

TEST(canonical_position_test, examples) {
    const std::pair<Position, Position> examples[] = {
        {{{3, 5}, {0, 0}, {7, 7}}, {{3, 5}, {0, 0}, {7, 7}}},
        {{{5, 6}, {0, 0}, {7, 1}}, {{2, 6}, {7, 0}, {0, 1}}},
        {{{6, 1}, {0, 2}, {5, 7}}, {{1, 6}, {2, 0}, {7, 5}}},
        {{{0, 0}, {2, 1}, {7, 3}}, {{0, 7}, {2, 6}, {7, 4}}},
        {{{1, 2}, {6, 0}, {4, 7}}, {{2, 6}, {0, 1}, {7, 3}}},
        {{{1, 3}, {7, 7}, {0, 0}}, {{3, 6}, {7, 0}, {0, 7}}},
        {{{3, 4}, {6, 7}, {0, 1}}, {{3, 4}, {6, 7}, {0, 1}}},
        {{{3, 4}, {0, 1}, {6, 7}}, {{3, 4}, {0, 1}, {6, 7}}},
    };
    for (const auto& [input, expected] : examples) EXPECT_EQ(canonical(input), expected) << input;
}

// Over every placement of three pieces on distinct squares: the result lies in
// the triangle, is its own canonical form, and is shared by all eight images,
// except the mirror in x + y = 7 when the defending king ends on that line.
TEST(canonical_position_test, every_image_of_a_position_meets_in_one_canonical_form) {
    int anti_diagonal_splits = 0;
    for (int d = 0; d < 64; ++d) {
        for (int a = 0; a < 64; ++a) {
            for (int r = 0; r < 64; ++r) {
                if (a == d || r == a || r == d) continue;
                const Position p{{d / 8, d % 8}, {a / 8, a % 8}, {r / 8, r % 8}};
                const Position c = canonical(p);
                ASSERT_TRUE(c.defending_king.x <= 3 && c.defending_king.y >= 4 &&
                            c.defending_king.x + c.defending_king.y >= 7)
                    << p;
                ASSERT_EQ(canonical(c), c) << p;
                for (int which = 0; which < 8; ++which) {
                    const Position image_form = canonical(board_symmetry(which, p));
                    if (image_form == c) continue;
                    ASSERT_TRUE(on_anti_diagonal(c.defending_king)) << p << " image " << which;
                    const Square mirrored[] = {{7 - c.defending_king.y, 7 - c.defending_king.x},
                                               {7 - c.attacking_king.y, 7 - c.attacking_king.x},
                                               {7 - c.rook.y, 7 - c.rook.x}};
                    ASSERT_EQ(image_form, (Position{mirrored[0], mirrored[1], mirrored[2]})) << p;
                    ++anti_diagonal_splits;
                }
            }
        }
    }
    EXPECT_GT(anti_diagonal_splits, 0);
}

// The key hashes as the pair (sequence of (x, y) pairs, flag) would, on the
// board and off it.
TEST(memo_key_test, hash_is_boost_hash_of_the_key_as_pairs) {
    using AsPairs = std::pair<std::vector<std::pair<int, int>>, bool>;
    const auto as_pairs = [](const MemoKey& k) {
        const Position& p = k.position;
        return AsPairs{{{p.defending_king.x, p.defending_king.y},
                        {p.attacking_king.x, p.attacking_king.y},
                        {p.rook.x, p.rook.y}},
                       k.attacker_to_move};
    };
    for (int d = 0; d < 64; ++d)
        for (int a = 0; a < 64; ++a)
            for (int r = 0; r < 64; r += 7)
                for (bool flag : {false, true}) {
                    const MemoKey k{{{d / 8, d % 8}, {a / 8, a % 8}, {r / 8, r % 8}}, flag};
                    ASSERT_EQ(boost::hash<MemoKey>()(k), boost::hash<AsPairs>()(as_pairs(k))) << k.position;
                }
    const MemoKey off_board{{{-1, 3}, {8, 0}, {2, 14}}, false};
    EXPECT_EQ(boost::hash<MemoKey>()(off_board), boost::hash<AsPairs>()(as_pairs(off_board)));

    const MemoKey key{{{3, 4}, {6, 7}, {0, 1}}, true};

    const MemoKey mirror{{{3, 4}, {0, 1}, {6, 7}}, true};
    EXPECT_FALSE(key == mirror);
    EXPECT_FALSE(key == (MemoKey{key.position, false}));
}

TEST_F(search_test, checkmate_is_worth_0_at_every_depth_and_is_terminal) {
    const Position mate{{0, 7}, {0, 5}, {7, 7}};
    for (int depth : {0, 1, 32}) EXPECT_EQ(search(mate, false, depth), 0);
    EXPECT_EQ(stored_value(mate, false), 0);
    EXPECT_EQ(stored_depth(mate, false), terminal_depth);
}

TEST_F(search_test, stalemate_is_a_draw_mark_at_every_depth_and_is_terminal) {
    const Position stalemate{{0, 7}, {0, 5}, {1, 0}};
    for (int depth : {0, 1, 32}) EXPECT_EQ(search(stalemate, false, depth), draw_mark);
    EXPECT_EQ(stored_depth(stalemate, false), terminal_depth);
}

TEST_F(search_test, taken_rook_is_a_draw_mark_for_either_side_and_is_terminal) {
    const Position taken{{2, 6}, {5, 5}, {2, 6}};
    for (bool attacker_to_move : {false, true}) {
        for (int depth : {0, 1, 32}) EXPECT_EQ(search(taken, attacker_to_move, depth), draw_mark);
        EXPECT_EQ(stored_depth(taken, attacker_to_move), terminal_depth);
    }
}

TEST_F(search_test, mate_in_one_needs_one_ply_and_its_mirror_shares_the_key) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 0), draw_mark);
    EXPECT_EQ(search(mate_in_one, true, 1), 1);
    EXPECT_EQ(search(mate_in_one, true, 5), 1);
    const std::size_t keys = value_table.size();
    EXPECT_EQ(search({{7, 7}, {7, 5}, {0, 0}}, true, 5), 1);
    EXPECT_EQ(value_table.size(), keys);
}

TEST_F(search_test, shallow_entry_is_searched_again_when_asked_deeper) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 0), draw_mark);
    EXPECT_EQ(stored_value(mate_in_one, true), draw_mark);
    EXPECT_EQ(stored_depth(mate_in_one, true), 0);
    EXPECT_EQ(search(mate_in_one, true, 1), 1);
    EXPECT_EQ(stored_value(mate_in_one, true), 1);
    EXPECT_EQ(stored_depth(mate_in_one, true), 1);
}

TEST_F(search_test, deep_entry_answers_a_shallower_request) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 32), 1);
    EXPECT_EQ(stored_depth(mate_in_one, true), 32);
    search_probe::reset();
    EXPECT_EQ(search(mate_in_one, true, 0), 1);
    EXPECT_EQ(search_probe::calls, 1u);  // answered without expanding
    EXPECT_EQ(stored_depth(mate_in_one, true), 32);
}

TEST_F(search_test, negative_depth_is_the_horizon) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, -3), draw_mark);
    EXPECT_EQ(stored_depth(mate_in_one, true), 0);
    EXPECT_EQ(search({{0, 7}, {0, 5}, {7, 7}}, false, -1), checkmate_value);
}

TEST_F(search_test, each_ply_to_a_draw_mark_adds_one_above_100) {
    const Position p{{3, 4}, {0, 0}, {7, 0}};
    EXPECT_EQ(search(p, false, 1), 101);
    value_table.clear();
    depth_table.clear();
    EXPECT_EQ(search(p, false, 2), 102);
    value_table.clear();
    depth_table.clear();
    EXPECT_EQ(search(p, true, 1), 101);
}

TEST_F(search_test, taking_the_rook_is_the_defenders_way_out) {
    EXPECT_EQ(search({{0, 7}, {7, 0}, {1, 6}}, false, 32), 101);
}

TEST_F(search_test, first_attacker_table_position_from_empty_tables) {
    EXPECT_EQ(search({{0, 7}, {0, 0}, {1, 0}}, true, 32), 13);
    EXPECT_EQ(search_probe::calls, 8'136'541u);
    EXPECT_EQ(value_table.size(), 62'753u);
    EXPECT_EQ(depth_table.size(), 62'753u);
}

TEST_F(search_test, first_defender_table_position_from_empty_tables) {
    EXPECT_EQ(search({{0, 7}, {0, 0}, {0, 1}}, false, 32), 20);
}

}  // namespace
}  // namespace korvel
