// korvel tables: which positions the endgame tables hold, in which order, and
// the build that fills them with their values.
#pragma once

#include <cstddef>
#include <vector>

#include "board.hpp"

namespace korvel {

struct TableEntry {
    Position position;
    int value;
};

// Kings apart and the defending king in the canonical triangle: the positions
// that are legal with the defending king to move.
bool in_canonical_region(const Position& position);

// All legal positions with the defending king to move (34,968), in board order
// of defending king, then attacking king, then rook.
std::vector<Position> enumerate_defender_positions();

// The same positions less those in which the defending king stands in check:
// legal with the attacking side to move (27,352), in the same order.
std::vector<Position> enumerate_attacker_positions();

// Searches every attacker-to-move position, then every defender-to-move one,
// each 32 plies deep, and fills the two tables below. Once they hold a complete
// build, a further call leaves them as they are. Should it fail (memory runs
// out), both tables are left empty, so a later call builds them whole.
void build_tables();

// Whether the tables below hold a complete build: false before the first build
// and after a failed one.
bool tables_built();

inline constexpr int table_search_depth = 32;
inline constexpr std::size_t defender_position_count = 34'968;
inline constexpr std::size_t attacker_position_count = 27'352;

extern std::vector<TableEntry> attacker_to_move_table;
extern std::vector<TableEntry> defender_to_move_table;

}  // namespace korvel
