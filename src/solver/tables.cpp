// korvel tables: enumeration of the table positions and the table build.
#include "tables.hpp"

#include <utility>

#include "memo.hpp"
#include "orientation.hpp"
#include "search.hpp"

#ifdef KORVEL_INSTRUMENTED
#include <new>

#include "instruments.hpp"
#endif

namespace korvel {

std::vector<TableEntry> attacker_to_move_table;
std::vector<TableEntry> defender_to_move_table;

namespace {

// Visits the 64 squares in board order: x the outer index, y the inner.
template <typename Visit>
void for_each_square(Visit visit) {
    for (std::int32_t x = 0; x < board_size; ++x)
        for (std::int32_t y = 0; y < board_size; ++y) visit(Square{x, y});
}

std::vector<TableEntry> searched(const std::vector<Position>& positions, bool attacker_to_move) {
    std::vector<TableEntry> entries;
    entries.reserve(positions.size());
    for (const Position& p : positions) {
        const int value = search(p.defending_king, p.attacking_king, p.rook, attacker_to_move, table_search_depth);
#ifdef KORVEL_INSTRUMENTED
        if (++instruments::root_calls == instruments::fail_at_root_call) throw std::bad_alloc();
#endif
        entries.push_back({p, value});
    }
    return entries;
}

}  // namespace

bool in_canonical_region(const Position& position) {
    return king_distance(position.defending_king, position.attacking_king) > 1 &&
           in_canonical_triangle(position.defending_king);
}

std::vector<Position> enumerate_defender_positions() {
    std::vector<Position> positions;
    positions.reserve(defender_position_count);
    for_each_square([&](Square defending_king) {
        if (!in_canonical_triangle(defending_king)) return;
        for_each_square([&](Square attacking_king) {
            for_each_square([&](Square rook) {
                if (attacking_king == defending_king || rook == attacking_king || rook == defending_king) return;
                const Position candidate{defending_king, attacking_king, rook};
                if (in_canonical_region(candidate)) positions.push_back(candidate);
            });
        });
    });
    return positions;
}

std::vector<Position> enumerate_attacker_positions() {
    std::vector<Position> positions;
    positions.reserve(attacker_position_count);
    for (const Position& p : enumerate_defender_positions())
        if (!is_defender_attacked(p.defending_king, p.attacking_king, p.rook)) positions.push_back(p);
    return positions;
}

bool tables_built() { return !defender_to_move_table.empty(); }

void build_tables() {
    if (tables_built()) return;
    reserve_memo_tables();
    // Entries are gathered aside and take their place only when both sides are
    // complete, so a failed build leaves the tables empty rather than half full.
    std::vector<TableEntry> attacker_entries = searched(enumerate_attacker_positions(), true);
    std::vector<TableEntry> defender_entries = searched(enumerate_defender_positions(), false);
    attacker_to_move_table = std::move(attacker_entries);
    defender_to_move_table = std::move(defender_entries);
}

}  // namespace korvel
