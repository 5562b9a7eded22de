// korvel board: squares, positions and the moves of king and rook against a lone king.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include <boost/container/static_vector.hpp>

namespace korvel {

inline constexpr std::int32_t board_size = 8;
inline constexpr int square_count = board_size * board_size;
static_assert(board_size == 8, "square numbers split into 3 bits a coordinate, bitboards have 64 bits");

// (x, y): column, then row. Signed, as the shared type is; on the board both
// lie in 0..7. The moves are found on square numbers and form no square off
// the board.
struct Square {
    std::int32_t x;
    std::int32_t y;

    friend constexpr bool operator==(Square a, Square b) { return a.x == b.x && a.y == b.y; }
    friend constexpr bool operator!=(Square a, Square b) { return !(a == b); }
};

// (dx, dy): a king step or a rook direction.
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

// The defending king has at most 8 moves; the attacking king at most 8 and the
// rook at most 14 (7 along each line when its own king stands on neither).
inline constexpr std::size_t king_move_bound = 8;
inline constexpr std::size_t rook_move_bound = 14;
using DefenderMoves = boost::container::static_vector<Square, king_move_bound>;

// The destinations of the attacking king and of the rook.
struct AttackerMoves {
    boost::container::static_vector<Square, king_move_bound> king_moves;
    boost::container::static_vector<Square, rook_move_bound> rook_moves;
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

constexpr int king_distance(Square a, Square b);
constexpr bool is_on_board(Square square);

// Board order numbers the squares x * 8 + y: x the slow index, y the fast one.
using SquareIndex = std::uint8_t;
constexpr SquareIndex square_index(Square square);  // a square on the board
constexpr Square square_at(SquareIndex index);      // an index below square_count

// Whether a defending king on `square` would be attacked by the attacking king
// or by the rook. Squares on the board, as for the moves.
bool is_defender_attacked(Square square, Square attacking_king, Square rook);

// Legal destinations of the defending king, in king-step order. A capture of
// the rook is the plain destination equal to the rook's square.
DefenderMoves defender_moves(Square defending_king, Square attacking_king, Square rook);

// Destinations of the attacking king (king-step order), then of the rook
// (rook-direction order, nearest square first). Ask only in positions where
// the defending king is not in check.
AttackerMoves attacker_moves(Square defending_king, Square attacking_king, Square rook);

// The same three on square numbers, which the search works on from the moves
// to the memo key; the operations above are these with the squares as (x, y).
// The moves are handed to `visit` one by one, in the order of the lists:
// `visit_king_move` and `visit_rook_move` for the attacking side.
bool is_defender_attacked(SquareIndex square, SquareIndex attacking_king, SquareIndex rook);
template <typename Visit>
void for_each_defender_move(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook, Visit visit);
template <typename VisitKingMove, typename VisitRookMove>
void for_each_attacker_move(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                            VisitKingMove visit_king_move, VisitRookMove visit_rook_move);

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

constexpr SquareIndex square_index(Square square) {
    assert(is_on_board(square));
    return static_cast<SquareIndex>(square.x * board_size + square.y);
}

constexpr Square square_at(SquareIndex index) {
    assert(index < square_count);
    return {index / board_size, index % board_size};
}

// The moves and attacks are found on bitboards, one bit a square in board
// order: a king step adds -9, -8, -7, -1, +1, +7, +8 or +9 to the square's
// number, so the lowest bit first is king-step order, and a rook line is read
// upwards for increasing x or y and downwards for decreasing x or y.
namespace detail {

using Bitboard = std::uint64_t;

constexpr Bitboard bit(SquareIndex square) {
    assert(square < square_count);
    return Bitboard{1} << square;
}
constexpr Bitboard bit(Square square) { return bit(square_index(square)); }

struct BoardMasks {
    std::array<Bitboard, square_count> king_zone{};  // the squares a king step away
    std::array<std::array<Bitboard, rook_directions.size()>, square_count> rook_line{};  // to the edge
};

inline constexpr BoardMasks board_masks = [] {
    BoardMasks masks{};
    for (SquareIndex index = 0; index < square_count; ++index) {
        const Square from = square_at(index);
        for (const Step step : king_steps)
            if (is_on_board(from + step)) masks.king_zone[index] |= bit(from + step);
        for (std::size_t d = 0; d < rook_directions.size(); ++d)
            for (Square to = from + rook_directions[d]; is_on_board(to); to = to + rook_directions[d])
                masks.rook_line[index][d] |= bit(to);
    }
    return masks;
}();

// The rook's line in one direction up to the attacking king, the only piece
// that blocks it, with or without the king's own square.
inline Bitboard rook_line(std::size_t direction, SquareIndex attacking_king, SquareIndex rook, bool with_king) {
    assert(rook < square_count);
    const Bitboard line = board_masks.rook_line[rook][direction];
    const Bitboard king = bit(attacking_king);
    const Bitboard beyond_king = board_masks.rook_line[attacking_king][direction] | (with_king ? 0 : king);
    return (line & king) != 0 ? line & ~beyond_king : line;  // a select, not a branch: either is as likely
}

// The squares the rook attacks. The defending king never blocks its lines,
// so a king in check along a line cannot escape by stepping further along
// it; the rook's own square is not among them, so a king may take a rook
// that its own king does not guard.
inline Bitboard rook_attacks(SquareIndex attacking_king, SquareIndex rook) {
    Bitboard attacked = 0;
    for (std::size_t direction = 0; direction < rook_directions.size(); ++direction)
        attacked |= rook_line(direction, attacking_king, rook, true);
    return attacked;
}

inline SquareIndex lowest_square(Bitboard squares) { return SquareIndex(__builtin_ctzll(squares)); }
inline SquareIndex highest_square(Bitboard squares) { return SquareIndex(square_count - 1 - __builtin_clzll(squares)); }

}  // namespace detail

inline bool is_defender_attacked(SquareIndex square, SquareIndex attacking_king, SquareIndex rook) {
    using namespace detail;
    return ((board_masks.king_zone[attacking_king] | rook_attacks(attacking_king, rook)) & bit(square)) != 0;
}

template <typename Visit>
void for_each_defender_move(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook, Visit visit) {
    using namespace detail;
    assert(defending_king < square_count);
    Bitboard targets = board_masks.king_zone[defending_king] & ~board_masks.king_zone[attacking_king] &
                       ~rook_attacks(attacking_king, rook);
    for (; targets != 0; targets &= targets - 1) visit(lowest_square(targets));
}

template <typename VisitKingMove, typename VisitRookMove>
void for_each_attacker_move(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                            VisitKingMove visit_king_move, VisitRookMove visit_rook_move) {
    using namespace detail;
    // Nothing attacks the attacking king; it only keeps off its rook and away
    // from the other king.
    const Bitboard near_defending_king = board_masks.king_zone[defending_king] | bit(defending_king);
    Bitboard king_targets = board_masks.king_zone[attacking_king] & ~bit(rook) & ~near_defending_king;
    for (; king_targets != 0; king_targets &= king_targets - 1) visit_king_move(lowest_square(king_targets));
    // Towards increasing x and y the nearest square has the lowest number,
    // towards decreasing x and y the highest.
    for (const std::size_t direction : {std::size_t{0}, std::size_t{1}})
        for (Bitboard line = rook_line(direction, attacking_king, rook, false); line != 0; line &= line - 1)
            visit_rook_move(lowest_square(line));
    for (const std::size_t direction : {std::size_t{2}, std::size_t{3}})
        for (Bitboard line = rook_line(direction, attacking_king, rook, false); line != 0;) {
            const SquareIndex to = highest_square(line);
            visit_rook_move(to);
            line &= ~bit(to);
        }
}

inline bool is_defender_attacked(Square square, Square attacking_king, Square rook) {
    return is_defender_attacked(square_index(square), square_index(attacking_king), square_index(rook));
}

inline DefenderMoves defender_moves(Square defending_king, Square attacking_king, Square rook) {
    DefenderMoves moves;
    for_each_defender_move(square_index(defending_king), square_index(attacking_king), square_index(rook),
                           [&](SquareIndex to) { moves.push_back(square_at(to)); });
    return moves;
}

inline AttackerMoves attacker_moves(Square defending_king, Square attacking_king, Square rook) {
    AttackerMoves moves;
    for_each_attacker_move(
        square_index(defending_king), square_index(attacking_king), square_index(rook),
        [&](SquareIndex to) { moves.king_moves.push_back(square_at(to)); },
        [&](SquareIndex to) { moves.rook_moves.push_back(square_at(to)); });
    return moves;
}

}  // namespace korvel
