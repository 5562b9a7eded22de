// korvel search: the value of a position of king and rook against king, by a
// depth-limited minimax memoised per canonical position.
#pragma once

#include "board.hpp"

namespace korvel {

// Values are read from the attacking side's point of view, smaller being better:
//   0        the defending king is checkmated
//   1..99    plies to a forced mate under best play on both sides
//   100      a draw mark, where a line ends without a mate
//   101..    no mate found: 100 plus the plies to a draw mark along the chosen line
inline constexpr int checkmate_value = 0;
inline constexpr int draw_mark = 100;
// The three ends of a line that the draw mark stands for.
inline constexpr int stalemate_value = draw_mark;
inline constexpr int rook_taken_value = draw_mark;
inline constexpr int horizon_value = draw_mark;  // the depth ran out first

// The value of the position with the given side to move, searched `depth`
// plies deep. Reads and fills the memo tables: a stored entry answers any
// request no deeper than the depth it was made at. A negative depth behaves as
// depth 0, the horizon.
// Requires: all three squares on the board, the two kings on different
// squares. The rook may stand on the defending king's square: the defending
// king has just taken it.
int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth);

}  // namespace korvel
