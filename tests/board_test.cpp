// Tests of the board rules: attacks, and the moves of each side in their order.
#include "solver/board.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "printers.hpp"

namespace korvel {
namespace {

using Squares = std::vector<Square>;

template <typename List>
Squares as_vector(const List& list) {
    return Squares(list.begin(), list.end());
}

Squares defender(Square d, Square k, Square r) { return as_vector(defender_moves(d, k, r)); }

TEST(board_test, king_distance_is_the_larger_coordinate_difference) {
    EXPECT_EQ(king_distance({0, 0}, {7, 7}), 7);
    EXPECT_EQ(king_distance({3, 4}, {4, 3}), 1);
    EXPECT_EQ(king_distance({2, 6}, {5, 5}), 3);
    EXPECT_EQ(king_distance({1, 1}, {1, 1}), 0);
}

TEST(board_test, adjacent_kings_attack_whatever_the_rook_does) {
    EXPECT_TRUE(is_defender_attacked({3, 3}, {4, 4}, {7, 0}));
    EXPECT_TRUE(is_defender_attacked({0, 7}, {1, 6}, {6, 0}));
    EXPECT_TRUE(is_defender_attacked({4, 4}, {4, 5}, {4, 4}));  // even with the rook on the square
    EXPECT_FALSE(is_defender_attacked({0, 0}, {2, 2}, {7, 7}));
}

TEST(board_test, rook_attacks_along_its_lines_unless_its_own_king_blocks) {
    EXPECT_FALSE(is_defender_attacked({0, 7}, {2, 7}, {5, 7}));  // king between rook and square
    EXPECT_TRUE(is_defender_attacked({0, 7}, {6, 7}, {5, 7}));   // king beyond the rook
    EXPECT_FALSE(is_defender_attacked({0, 7}, {0, 3}, {0, 1}));  // same on a column
    EXPECT_TRUE(is_defender_attacked({0, 7}, {1, 3}, {0, 1}));   // king off the column
    EXPECT_TRUE(is_defender_attacked({0, 7}, {0, 0}, {0, 1}));   // king behind the rook
    EXPECT_FALSE(is_defender_attacked({3, 3}, {7, 7}, {5, 5}));  // rooks do not attack diagonally
}

TEST(board_test, rook_on_the_square_is_no_attack) {
    EXPECT_FALSE(is_defender_attacked({4, 4}, {7, 7}, {4, 4}));
    EXPECT_FALSE(is_defender_attacked({0, 0}, {0, 7}, {0, 0}));
    EXPECT_TRUE(is_defender_attacked({4, 4}, {5, 5}, {4, 4}));  // unless the kings touch
}

TEST(board_test, defending_king_in_a_corner_moves_in_king_step_order) {
    EXPECT_EQ(defender({0, 0}, {7, 7}, {5, 3}), (Squares{{0, 1}, {1, 0}, {1, 1}}));
    EXPECT_EQ(defender({4, 4}, {0, 0}, {7, 0}),
              (Squares{{3, 3}, {3, 4}, {3, 5}, {4, 3}, {4, 5}, {5, 3}, {5, 4}, {5, 5}}));
}

TEST(board_test, check_along_a_line_cannot_be_escaped_along_it) {
    EXPECT_EQ(defender({3, 0}, {7, 7}, {0, 0}), (Squares{{2, 1}, {3, 1}, {4, 1}}));
}

TEST(board_test, square_shielded_by_the_attacking_king_is_allowed) {
    EXPECT_EQ(defender({0, 6}, {2, 5}, {7, 5}), (Squares{{0, 5}, {0, 7}, {1, 7}}));
}

TEST(board_test, unprotected_rook_can_be_taken_protected_rook_cannot) {
    EXPECT_EQ(defender({0, 0}, {7, 7}, {1, 1}), (Squares{{1, 1}}));
    EXPECT_TRUE(defender({0, 0}, {2, 2}, {1, 1}).empty());
    EXPECT_FALSE(is_defender_attacked({0, 0}, {2, 2}, {1, 1}));  // so that is stalemate
}

TEST(board_test, checkmated_king_has_no_move_and_is_attacked) {
    EXPECT_TRUE(defender({0, 7}, {0, 5}, {7, 7}).empty());
    EXPECT_TRUE(is_defender_attacked({0, 7}, {0, 5}, {7, 7}));
}

TEST(board_test, attacker_moves_king_steps_then_rook_directions) {
    const AttackerMoves moves = attacker_moves({0, 7}, {2, 5}, {5, 3});
    EXPECT_EQ(as_vector(moves.king_moves), (Squares{{1, 4}, {1, 5}, {2, 4}, {2, 6}, {3, 4}, {3, 5}, {3, 6}}));
    EXPECT_EQ(as_vector(moves.rook_moves),
              (Squares{{6, 3}, {7, 3}, {5, 4}, {5, 5}, {5, 6}, {5, 7}, {4, 3}, {3, 3}, {2, 3}, {1, 3}, {0, 3},
                       {5, 2}, {5, 1}, {5, 0}}));
}

TEST(board_test, rook_line_stops_at_its_own_king) {
    const AttackerMoves moves = attacker_moves({7, 7}, {3, 0}, {0, 0});
    EXPECT_EQ(as_vector(moves.rook_moves),
              (Squares{{1, 0}, {2, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}}));
    // A king destination may also be a rook destination.
    EXPECT_EQ(as_vector(moves.king_moves), (Squares{{2, 0}, {2, 1}, {3, 1}, {4, 0}, {4, 1}}));
}

TEST(board_test, attacking_king_keeps_off_its_rook_and_away_from_the_other_king) {
    for (std::int32_t x = 0; x < board_size; ++x) {
        for (std::int32_t y = 0; y < board_size; ++y) {
            const Square defending_king{x, y};
            const Square attacking_king{3, 3};
            if (king_distance(defending_king, attacking_king) <= 1) continue;
            const Square rook{3, 4};
            for (const Square to : attacker_moves(defending_king, attacking_king, rook).king_moves) {
                EXPECT_NE(to, rook);
                EXPECT_GT(king_distance(to, defending_king), 1) << to << " next to " << defending_king;
                EXPECT_EQ(king_distance(to, attacking_king), 1);
            }
        }
    }
}

TEST(board_test, move_lists_reach_their_bounds) {
    EXPECT_EQ(defender_moves({4, 4}, {0, 0}, {7, 0}).size(), 8u);
    EXPECT_EQ(attacker_moves({7, 7}, {3, 3}, {0, 0}).king_moves.size(), 8u);
    EXPECT_EQ(attacker_moves({7, 7}, {0, 0}, {4, 4}).rook_moves.size(), 14u);
}

}  // namespace
}  // namespace korvel
