// korvel search: depth-limited minimax over king and rook against king, memoised
// per canonical position in two process-wide tables.
#pragma once

#include <cstddef>

#include <boost/unordered_map.hpp>

#include "board.hpp"

namespace korvel {

// ---- Contents -------------------------------------------------------------
// Values are read from the attacking side's point of view, smaller being better:
//   0        the defending king is checkmated
//   1..99    plies to a forced mate under best play on both sides
//   100      a draw mark: stalemate, the rook taken, or the horizon reached
//   101..    no mate found: 100 plus the plies to a draw mark along the chosen line
inline constexpr int checkmate_value = 0;
inline constexpr int draw_mark = 100;

// The depth stored for checkmate, stalemate and a taken rook: their value holds
// whatever depth is asked for.
inline constexpr int terminal_depth = 100;

// The position brought into the orientation every memo key uses: the defending
// king in the triangle x <= 3, y >= 4, x + y >= 7. Board symmetries of a
// position share one result, except that a defending king on the line
// x + y = 7 keeps a position apart from its mirror image in that line.
Position canonical_position(Square defending_king, Square attacking_king, Square rook);

// The value of the position with the given side to move, searched `depth`
// plies deep. Reads and fills `value_table` and `depth_table`: a stored
// entry answers any request no deeper than the depth it was made at. A
// negative depth behaves as depth 0, the horizon. The rook may stand on the
// defending king's square: the defending king has just taken it.
int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth);

struct MemoKey {
    Position position;  // canonical
    bool attacker_to_move;

    friend constexpr bool operator==(const MemoKey& a, const MemoKey& b) {
        return a.position == b.position && a.attacker_to_move == b.attacker_to_move;
    }
};

// boost::hash of the key read as a pair (sequence of (x, y) pairs, flag).
std::size_t hash_value(Square square);
std::size_t hash_value(const Position& position);
std::size_t hash_value(const MemoKey& key);

using MemoTable = boost::unordered_map<MemoKey, int, boost::hash<MemoKey>>;

// Both tables always hold the same keys: the value of each evaluation, and the
// depth it was made at. Never cleared while the process lives.
extern MemoTable value_table;
extern MemoTable depth_table;

}  // namespace korvel
