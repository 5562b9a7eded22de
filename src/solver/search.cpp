// korvel search: canonical orientation, the memo tables and the minimax.
#include "search.hpp"

#include <algorithm>

#ifdef KORVEL_SEARCH_PROBE
#include <new>

#include "search_probe.hpp"
#endif

namespace korvel {

namespace {

constexpr std::int32_t last_line = board_size - 1;

// A complete table build leaves 62,882 keys; reserving for them up front
// spares the tables every rehash.
constexpr std::size_t expected_memo_keys = 62'882;

MemoTable reserved_memo_table() {
    MemoTable table;
    table.reserve(expected_memo_keys);
    return table;
}

// Starting values that every successor improves on.
constexpr int attacker_worst = 200;
constexpr int defender_worst = -100;

constexpr Square mirror_columns(Square s) { return {last_line - s.x, s.y}; }
constexpr Square mirror_rows(Square s) { return {s.x, last_line - s.y}; }
constexpr Square swap_axes(Square s) { return {s.y, s.x}; }
constexpr Square mirror_anti_diagonal(Square s) { return {last_line - s.y, last_line - s.x}; }

template <typename Symmetry>
constexpr Position transformed(const Position& p, Symmetry symmetry) {
    return {symmetry(p.defending_king), symmetry(p.attacking_king), symmetry(p.rook)};
}

// Writes one key's entry in both tables. Should memory run out between the two
// writes, the first is taken back, so the tables keep one set of keys.
void store(const MemoKey& key, int value, int depth) {
    const auto [entry, is_new] = value_table.insert_or_assign(key, value);
    try {
        depth_table.insert_or_assign(key, depth);
    } catch (...) {
        if (is_new) value_table.erase(entry);
        throw;
    }
}

int store_and_return(const MemoKey& key, int value, int depth) {
    store(key, value, depth);
    return value;
}

int evaluate(const MemoKey& key, int depth) {
    if (const auto stored = depth_table.find(key); stored != depth_table.end() && stored->second >= depth)
        return value_table.find(key)->second;

    const auto& [defending_king, attacking_king, rook] = key.position;
    if (rook == defending_king) return store_and_return(key, draw_mark, terminal_depth);

    if (key.attacker_to_move) {
        if (depth == 0) return store_and_return(key, draw_mark, 0);
        const AttackerMoves moves = attacker_moves(defending_king, attacking_king, rook);
        int best = attacker_worst;
        for (const Square to : moves.king_moves)
            best = std::min(best, search(defending_king, to, rook, false, depth - 1) + 1);
        for (const Square to : moves.rook_moves)
            best = std::min(best, search(defending_king, attacking_king, to, false, depth - 1) + 1);
        return store_and_return(key, best, depth);
    }

    const DefenderMoves moves = defender_moves(defending_king, attacking_king, rook);
    if (moves.empty()) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store_and_return(key, in_check ? checkmate_value : draw_mark, terminal_depth);
    }
    if (depth == 0) return store_and_return(key, draw_mark, 0);
    int best = defender_worst;
    for (const Square to : moves)
        best = std::max(best, search(to, attacking_king, rook, true, depth - 1) + 1);
    return store_and_return(key, best, depth);
}

}  // namespace

MemoTable value_table = reserved_memo_table();
MemoTable depth_table = reserved_memo_table();

std::size_t hash_value(Square square) {
    std::size_t seed = 0;
    boost::hash_combine(seed, square.x);
    boost::hash_combine(seed, square.y);
    return seed;
}

std::size_t hash_value(const Position& position) {
    std::size_t seed = 0;
    boost::hash_combine(seed, position.defending_king);
    boost::hash_combine(seed, position.attacking_king);
    boost::hash_combine(seed, position.rook);
    return seed;
}

std::size_t hash_value(const MemoKey& key) {
    std::size_t seed = 0;
    boost::hash_combine(seed, key.position);
    boost::hash_combine(seed, key.attacker_to_move);
    return seed;
}

Position canonical_position(Square defending_king, Square attacking_king, Square rook) {
    Position p{defending_king, attacking_king, rook};
    const bool upper_half = defending_king.y >= 4;
    const bool left_half = defending_king.x <= 3;
    if (upper_half && !left_half) p = transformed(p, mirror_columns);
    else if (!upper_half && left_half) p = transformed(p, mirror_rows);
    else if (!upper_half && !left_half) p = transformed(p, swap_axes);

    const Square king = p.defending_king;
    if (king.x < last_line - king.y) p = transformed(p, mirror_anti_diagonal);
    return p;
}

int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth) {
    const MemoKey key{canonical_position(defending_king, attacking_king, rook), attacker_to_move};
    const int value = evaluate(key, std::max(depth, 0));
#ifdef KORVEL_SEARCH_PROBE
    ++search_probe::calls;
    search_probe::least_value = std::min(search_probe::least_value, value);
    search_probe::greatest_value = std::max(search_probe::greatest_value, value);
    if (search_probe::calls == search_probe::fail_at_call) throw std::bad_alloc();
#endif
    return value;
}

}  // namespace korvel
