// korvel memo: the two process-wide tables that remember, for every position
// evaluated, its value and the depth it was searched to.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include <boost/unordered_map.hpp>

#include "board.hpp"
#include "node_arena.hpp"
#include "orientation.hpp"

namespace korvel {

// A position in canonical orientation and the side to move, as one number:
// the defending king's place in the triangle, the side to move, then the
// attacking king's square and the rook's in board order, the rook's the
// fastest. Every key there can be has a number below memo_key_count
// (81,920), so the tables' hash and node are found from the key by indexing,
// and a memo node, key and value with Boost's links, stays small.
struct MemoKey {
    std::uint32_t number;

    MemoKey() = default;
    MemoKey(PositionSquares canonical, bool attacker_to_move);  // the defending king in the triangle
    MemoKey(const Position& canonical, bool attacker_to_move);

    PositionSquares squares() const;
    Position position() const;
    bool attacker_to_move() const;

    friend bool operator==(MemoKey a, MemoKey b) { return a.number == b.number; }
};
static_assert(sizeof(MemoKey) == 4);

inline constexpr std::size_t memo_key_count = std::size_t{triangle_square_count} * 2 * square_count * square_count;

// The depth stored with checkmate, stalemate and a taken rook, whose values
// hold whatever depth is asked for: a depth deeper than any search asks (32),
// not a value; that it is 100, as the draw mark is, means nothing.
inline constexpr int terminal_depth = 100;

// The tables' one hash function: boost::hash of the key read as a pair
// (sequence of (x, y) pairs, flag), looked up in an array of every key's hash
// that prepare_key_hashes fills. Finding a key and storing it both hash with
// it, so they cannot disagree about where a key lies.
struct MemoKeyHash {
    std::size_t operator()(const MemoKey& key) const;
};

// Fills the array of every key's hash the first time it is called; every
// search calls it, and after the first time it only checks.
void prepare_key_hashes();

// The key of a position, brought into canonical orientation.
MemoKey memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook, bool attacker_to_move);

// The value stored for the key, if the tables hold one searched at least
// `depth` plies deep.
std::optional<int> stored_value(const MemoKey& key, int depth);

// Writes the key's value and depth in both tables, replacing what they held,
// and returns the value. Should memory run out between the two inserts of a
// new key, the first is taken back: the tables keep one set of keys.
int store(const MemoKey& key, int value, int depth);

// Makes room in both tables for the keys a complete table build leaves, so
// that the build never rehashes them.
void reserve_memo_tables();

// Both tables take their nodes from one arena, a key's two side by side in
// its slot: the second lookup of a memo hit finds its node in cache.
using MemoEntry = std::pair<const MemoKey, int>;
using MemoTable = boost::unordered_map<MemoKey, int, MemoKeyHash, std::equal_to<MemoKey>,
                                       detail::NodeArenaAllocator<MemoEntry>>;

// Both tables always hold the same keys: the value of each evaluation, and the
// depth it was made at. Never cleared while the process lives.
extern MemoTable value_table;
extern MemoTable depth_table;

// The bytes value_table or depth_table holds now, nodes and buckets apart.
const detail::TableMemory& memo_table_memory(const MemoTable& table);

// Asks the memory ahead for what a lookup of the key reads: its bucket in
// either table and its slot in the node arena, where its nodes lie once it is
// stored. A hint only, which changes nothing: the lookups go through the tables.
void prefetch_memo_entries(const MemoKey& key);

// ---- Inline definitions (on the search's hot path) --------------------------
namespace detail {
extern std::array<std::size_t, memo_key_count> key_hashes;
extern bool key_hashes_ready;
extern NodeArena node_arena;
extern TableMemory value_table_memory;
extern TableMemory depth_table_memory;
}  // namespace detail

inline MemoKey::MemoKey(PositionSquares canonical, bool side_to_move) {
    const auto [defending_king, attacking_king, rook] = canonical;
    assert(attacking_king < square_count && rook < square_count);
    const std::uint32_t king_place = std::uint32_t(triangle_index(defending_king)) * 2 + side_to_move;
    number = (king_place * square_count + attacking_king) * square_count + rook;
}

inline MemoKey::MemoKey(const Position& canonical, bool side_to_move)
    : MemoKey(PositionSquares{square_index(canonical.defending_king), square_index(canonical.attacking_king),
                              square_index(canonical.rook)},
              side_to_move) {}

inline PositionSquares MemoKey::squares() const {
    constexpr std::uint32_t square_mask = square_count - 1;
    return {triangle_squares[number / (2 * square_count * square_count)],
            SquareIndex(number / square_count & square_mask), SquareIndex(number & square_mask)};
}

inline Position MemoKey::position() const {
    const auto [defending_king, attacking_king, rook] = squares();
    return {square_at(defending_king), square_at(attacking_king), square_at(rook)};
}

inline bool MemoKey::attacker_to_move() const { return (number / (square_count * square_count)) % 2 != 0; }

inline std::size_t MemoKeyHash::operator()(const MemoKey& key) const {
    assert(detail::key_hashes_ready && key.number < memo_key_count);
    return detail::key_hashes[key.number];
}

inline MemoKey memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                        bool attacker_to_move) {
    return {canonical_squares(defending_king, attacking_king, rook), attacker_to_move};
}

// Inlined whole into the search, so that a memo hit makes no call.
[[gnu::flatten]] inline std::optional<int> stored_value(const MemoKey& key, int depth) {
    const auto stored_depth = depth_table.find(key);
    if (stored_depth == depth_table.end() || stored_depth->second < depth) return std::nullopt;
    return value_table.find(key)->second;
}

inline void prefetch_memo_entries(const MemoKey& key) {
    // The two tables are made alike and take their keys in step, so a key's
    // bucket has one number in both.
    const std::size_t bucket = depth_table.bucket(key);
    detail::depth_table_memory.prefetch_bucket(bucket);
    detail::value_table_memory.prefetch_bucket(bucket);
    detail::node_arena.prefetch(key.number);
}

}  // namespace korvel
