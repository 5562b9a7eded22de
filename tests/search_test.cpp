// Tests of the search: canonical orientation, the value scale and the memo rules.
#include "solver/search.hpp"

#include <gtest/gtest.h>

#include "memo_fixture.hpp"
#include "printers.hpp"

namespace korvel {
namespace {

using search_test = fresh_solver;

int search(const Position& p, bool attacker_to_move, int depth) {
    return korvel::search(p.defending_king, p.attacking_king, p.rook, attacker_to_move, depth);
}

TEST_F(search_test, checkmate_is_worth_0_at_every_depth_and_is_terminal) {
    const Position mate{{0, 7}, {0, 5}, {7, 7}};
    for (int depth : {0, 1, 32}) EXPECT_EQ(search(mate, false, depth), 0);
    EXPECT_EQ(stored_value(mate, false), 0);
    EXPECT_EQ(stored_depth(mate, false), terminal_depth);
}

TEST_F(search_test, stalemate_is_a_draw_mark_at_every_depth_and_is_terminal) {
    const Position stalemate{{0, 7}, {0, 5}, {1, 0}};
    for (int depth : {0, 1, 32}) EXPECT_EQ(search(stalemate, false, depth), stalemate_value);
    EXPECT_EQ(stored_depth(stalemate, false), terminal_depth);
}

TEST_F(search_test, taken_rook_is_a_draw_mark_for_either_side_and_is_terminal) {
    const Position taken{{2, 6}, {5, 5}, {2, 6}};
    for (bool attacker_to_move : {false, true}) {
        for (int depth : {0, 1, 32}) EXPECT_EQ(search(taken, attacker_to_move, depth), rook_taken_value);
        EXPECT_EQ(stored_depth(taken, attacker_to_move), terminal_depth);
    }
}

TEST_F(search_test, mate_in_one_needs_one_ply_and_its_mirror_shares_the_key) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 0), horizon_value);
    EXPECT_EQ(search(mate_in_one, true, 1), 1);
    EXPECT_EQ(search(mate_in_one, true, 5), 1);
    const std::size_t keys = value_table.size();
    EXPECT_EQ(search({{7, 7}, {7, 5}, {0, 0}}, true, 5), 1);
    EXPECT_EQ(value_table.size(), keys);
}

TEST_F(search_test, shallow_entry_is_searched_again_when_asked_deeper) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 0), horizon_value);
    EXPECT_EQ(stored_value(mate_in_one, true), horizon_value);
    EXPECT_EQ(stored_depth(mate_in_one, true), 0);
    EXPECT_EQ(search(mate_in_one, true, 1), 1);
    EXPECT_EQ(stored_value(mate_in_one, true), 1);
    EXPECT_EQ(stored_depth(mate_in_one, true), 1);
}

TEST_F(search_test, deep_entry_answers_a_shallower_request) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, 32), 1);
    EXPECT_EQ(stored_depth(mate_in_one, true), 32);
    instruments::reset();
    EXPECT_EQ(search(mate_in_one, true, 0), 1);
    EXPECT_EQ(instruments::calls, 1u);  // answered without expanding
    EXPECT_EQ(stored_depth(mate_in_one, true), 32);
}

TEST_F(search_test, negative_depth_is_the_horizon) {
    const Position mate_in_one{{0, 7}, {0, 5}, {7, 0}};
    EXPECT_EQ(search(mate_in_one, true, -3), horizon_value);
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

TEST_F(search_test, first_attacker_table_position_from_empty_memo_tables) {
    EXPECT_EQ(search({{0, 7}, {0, 0}, {1, 0}}, true, 32), 13);
    EXPECT_EQ(instruments::calls, 8'136'541u);
    EXPECT_EQ(value_table.size(), 62'753u);
    EXPECT_EQ(depth_table.size(), 62'753u);
}

TEST_F(search_test, first_defender_table_position_from_empty_memo_tables) {
    EXPECT_EQ(search({{0, 7}, {0, 0}, {0, 1}}, false, 32), 20);
}

// An off-board square would index the orientation's array of images out of its bounds.
TEST(search_death_test, a_square_off_the_board_or_kings_on_one_square_stop_a_checked_build) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out of this build";
#endif
    EXPECT_DEATH(korvel::search({-1, 3}, {0, 0}, {5, 5}, true, 1), "is_on_board");
    EXPECT_DEATH(korvel::search({2, 6}, {8, 0}, {5, 5}, false, 1), "is_on_board");
    EXPECT_DEATH(korvel::search({2, 6}, {2, 6}, {5, 5}, false, 1), "attacking_king != defending_king");
}

}  // namespace
}  // namespace korvel
