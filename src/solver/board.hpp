// korvel board: squares, positions and the moves of king and rook against a lone king.
#pragma once

#include <array>
#include <cstdint>

#include <boost/container/static_vector.hpp>

namespace korvel {

// ---- Contents -------------------------------------------------------------
struct Square;        // (x, y): column, then row, 0..7 on the board
struct Step;          // (dx, dy): a king step or a rook direction
struct Position;      // defending king, attacking king, rook
struct AttackerMoves; // destinations of the attacking king and of the rook

// The defending king has at most 8 moves; the attacking king at most 8 and the
// rook at most 14 (7 along each line when its own king stands on neither).
using DefenderMoves = boost::container::static_vector<Square, 8>;

constexpr int king_distance(Square a, Square b);
constexpr bool is_on_board(Square square);

// Whether a defending king on `square` would be attacked by the attacking king
// or by the rook.
constexpr bool is_defender_attacked(Square square, Square attacking_king, Square rook);

// Legal destinations of the defending king, in king-step order. A capture of
// the rook is the plain destination equal to the rook's square.
DefenderMoves defender_moves(Square defending_king, Square attacking_king, Square rook);

// Destinations of the attacking king (king-step order), then of the rook
// (rook-direction order, nearest square first). Ask only in positions where
// the defending king is not in check.
AttackerMoves attacker_moves(Square defending_king, Square attacking_king, Square rook);

// ---- Types ------------------------------------------------------------------
inline constexpr std::int32_t board_size = 8;
inline constexpr int square_count = board_size * board_size;

struct Square {
    // Signed: move generation forms squares just off the board before discarding them.
    std::int32_t x;
    std::int32_t y;

    friend constexpr bool operator==(Square a, Square b) { return a.x == b.x && a.y == b.y; }
    friend constexpr bool operator!=(Square a, Square b) { return !(a == b); }
};

struct Step {
    std::int32_t dx;
    std::int32_t dy;
};

constexpr Square operator+(Square square, Step step) { return {square.x + step.dx, square.y + step.dy}; }

struct Position {
    Square defending_king;
    Square attacking_king;
    Square rook;

    friend constexpr bool operator==(const Position& a, const Position& b) {
        return a.defending_king == b.defending_king && a.attacking_king == b.attacking_king &&
               a.rook == b.rook;
    }
    friend constexpr bool operator!=(const Position& a, const Position& b) { return !(a == b); }
};

struct AttackerMoves {
    boost::container::static_vector<Square, 8> king_moves;
    boost::container::static_vector<Square, 14> rook_moves;
};

// The king steps with dx the outer and dy the inner index, both ascending; the
// null step (0, 0) is left out, since a king never stays where it is.
inline constexpr std::array<Step, 8> king_steps{{
    {-1, -1}, {-1, 0}, {-1, +1},
    {0, -1},           {0, +1},
    {+1, -1}, {+1, 0}, {+1, +1},
}};

// Increasing x, increasing y, decreasing x, decreasing y.
inline constexpr std::array<Step, 4> rook_directions{{{+1, 0}, {0, +1}, {-1, 0}, {0, -1}}};

// ---- Inline definitions (on the search's hot path) --------------------------
constexpr int abs_difference(std::int32_t a, std::int32_t b) { return a > b ? a - b : b - a; }

constexpr int king_distance(Square a, Square b) {
    const int dx = abs_difference(a.x, b.x);
    const int dy = abs_difference(a.y, b.y);
    return dx > dy ? dx : dy;
}

constexpr bool is_on_board(Square square) {
    return square.x >= 0 && square.x < board_size && square.y >= 0 && square.y < board_size;
}

// Whether the rook alone attacks `square`. Only the attacking king can block
// it: the defending king's own square never does, so a king in check along a
// line cannot escape by stepping further along that line.
constexpr bool is_rook_attack(Square square, Square attacking_king, Square rook) {
    const bool same_column = square.x == rook.x;
    const bool same_row = square.y == rook.y;
    // A rook standing on the square is taken there, not attacking it.
    if (same_column == same_row) return false;
    if (same_column) {
        const bool king_between = attacking_king.x == rook.x &&
                                  (attacking_king.y - rook.y) * (square.y - attacking_king.y) > 0;
        return !king_between;
    }
    const bool king_between = attacking_king.y == rook.y &&
                              (attacking_king.x - rook.x) * (square.x - attacking_king.x) > 0;
    return !king_between;
}

constexpr bool is_defender_attacked(Square square, Square attacking_king, Square rook) {
    return king_distance(square, attacking_king) == 1 || is_rook_attack(square, attacking_king, rook);
}

inline DefenderMoves defender_moves(Square defending_king, Square attacking_king, Square rook) {
    DefenderMoves moves;
    for (const Step step : king_steps) {
        const Square to = defending_king + step;
        if (is_on_board(to) && !is_defender_attacked(to, attacking_king, rook)) moves.push_back(to);
    }
    return moves;
}

inline AttackerMoves attacker_moves(Square defending_king, Square attacking_king, Square rook) {
    AttackerMoves moves;
    for (const Step step : king_steps) {
        const Square to = attacking_king + step;
        // Nothing attacks the attacking king; it only keeps off its rook and
        // away from the other king.
        if (is_on_board(to) && to != rook && king_distance(to, defending_king) > 1)
            moves.king_moves.push_back(to);
    }
    for (const Step direction : rook_directions) {
        for (Square to = rook + direction; is_on_board(to) && to != attacking_king; to = to + direction)
            moves.rook_moves.push_back(to);
    }
    return moves;
}

}  // namespace korvel
