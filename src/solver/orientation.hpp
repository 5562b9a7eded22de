// korvel orientation: the symmetries of the board that bring a position into
// the canonical orientation, so that all its images share one memo entry.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>

#include "board.hpp"

namespace korvel {

// The canonical triangle, x <= 3, y >= 4, x + y >= 7 (a8, b7, b8, c6, c7, c8,
// d5, d6, d7, d8): every table position and every memo key has its defending
// king on one of these squares.
inline constexpr int triangle_square_count = 10;
inline constexpr std::int32_t half_board = board_size / 2;
constexpr bool in_canonical_triangle(Square square);

// The triangle's squares numbered 0..9 in board order.
constexpr int triangle_index(SquareIndex square);  // a square in the triangle

// Where the canonical orientation takes every square, by number. The symmetry
// depends on the defending king's square alone.
using SquareImages = std::array<SquareIndex, square_count>;
const SquareImages& canonical_images(SquareIndex defending_king);

// The position after the symmetry that brings the defending king into the
// triangle, all three squares alike. The eight images of a position meet in
// one result, except that a defending king on the line x + y = 7 keeps a
// position apart from its mirror image in that line. Squares on the board.
Position canonical_position(Square defending_king, Square attacking_king, Square rook);

// The same on square numbers, defending king, attacking king, rook.
using PositionSquares = std::array<SquareIndex, 3>;
PositionSquares canonical_squares(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook);

// ---- Inline definitions (on the search's hot path) --------------------------
namespace detail {
extern const std::array<SquareImages, square_count> canonical_images_by_king;
}

constexpr bool in_canonical_triangle(Square square) {
    return square.x < half_board && square.y >= half_board && square.x + square.y >= board_size - 1;
}

inline constexpr std::array<std::int8_t, square_count> triangle_indices = [] {
    std::array<std::int8_t, square_count> indices{};
    std::int8_t next = 0;
    for (int index = 0; index < square_count; ++index)
        indices[std::size_t(index)] = in_canonical_triangle(square_at(SquareIndex(index))) ? next++ : std::int8_t{-1};
    return indices;
}();

// The triangle's squares by their number there.
inline constexpr std::array<SquareIndex, triangle_square_count> triangle_squares = [] {
    std::array<SquareIndex, triangle_square_count> squares{};
    for (int index = 0; index < square_count; ++index)
        if (triangle_indices[std::size_t(index)] >= 0)
            squares[std::size_t(triangle_indices[std::size_t(index)])] = SquareIndex(index);
    return squares;
}();

constexpr int triangle_index(SquareIndex square) {
    assert(triangle_indices[square] >= 0);
    return triangle_indices[square];
}

inline const SquareImages& canonical_images(SquareIndex defending_king) {
    assert(defending_king < square_count);
    return detail::canonical_images_by_king[defending_king];
}

inline PositionSquares canonical_squares(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook) {
    const SquareImages& image = canonical_images(defending_king);
    return {image[defending_king], image[attacking_king], image[rook]};
}

inline Position canonical_position(Square defending_king, Square attacking_king, Square rook) {
    const PositionSquares canonical =
        canonical_squares(square_index(defending_king), square_index(attacking_king), square_index(rook));
    return {square_at(canonical[0]), square_at(canonical[1]), square_at(canonical[2])};
}

}  // namespace korvel
