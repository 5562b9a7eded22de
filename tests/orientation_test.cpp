// Tests of the canonical orientation: the examples, and every placement's eight images.
#include "solver/orientation.hpp"

#include <utility>

#include <gtest/gtest.h>

#include "printers.hpp"

namespace korvel {
namespace {

Position canonical(const Position& p) { return canonical_position(p.defending_king, p.attacking_king, p.rook); }

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

}  // namespace
}  // namespace korvel
