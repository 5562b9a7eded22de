// korvel memo: the two process-wide tables that remember, for every position
// evaluated, its value and the depth it was searched to.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include <boost/container_hash/hash.hpp>
#include <boost/unordered_map.hpp>

#include "board.hpp"
#include "node_pool.hpp"
#include "orientation.hpp"

namespace korvel {

// ---- Contents -------------------------------------------------------------
struct MemoKey;    // a position in canonical orientation, and the side to move
struct HashedKey;  // a key with its hash, worked out once per search

// The depth stored for checkmate, stalemate and a taken rook: their value
// holds whatever depth is asked for.
inline constexpr int terminal_depth = 100;

// boost::hash of the key read as a pair (sequence of (x, y) pairs, flag).
std::size_t hash_value(Square square);
std::size_t hash_value(const Position& position);
std::size_t hash_value(const MemoKey& key);

// Fills the tables that keys' hashes are worked out from, the first time it
// is called; every search calls it, and after the first time it only checks.
void prepare_key_hashes();

// The key of a position, brought into canonical orientation, with its hash.
HashedKey memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook, bool attacker_to_move);

// The same for a position already in canonical orientation: its defending
// king in the triangle.
HashedKey canonical_memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                             bool attacker_to_move);

// The value stored for the key, if the tables hold one searched at least
// `depth` plies deep.
std::optional<int> stored_value(const HashedKey& key, int depth);

// Writes the key's value and depth in both tables, replacing what they held,
// and returns the value. Should memory run out between the two inserts of a
// new key, the first is taken back: the tables keep one set of keys.
int store(const HashedKey& key, int value, int depth);

// Makes room in both tables for the keys a complete table build leaves, so
// that the build never rehashes them.
void reserve_memo_tables();

// ---- Types ------------------------------------------------------------------
struct MemoKey {
    // The canonical position's squares by their board-order numbers, defending
    // king, attacking king, rook, and the side to move: four bytes, so that a
    // memo node, key and value with Boost's two words, is half of what three
    // pairs of ints made it, and more of the tables stays in cache.
    PositionSquares squares;
    bool attacker_to_move;

    MemoKey() = default;
    MemoKey(PositionSquares canonical, bool side_to_move) : squares(canonical), attacker_to_move(side_to_move) {}
    MemoKey(const Position& canonical, bool side_to_move)
        : MemoKey(PositionSquares{square_index(canonical.defending_king), square_index(canonical.attacking_king),
                                  square_index(canonical.rook)},
                  side_to_move) {}

    Position position() const { return {square_at(squares[0]), square_at(squares[1]), square_at(squares[2])}; }

    // Every memo hit compares keys: the four bytes as one word.
    friend bool operator==(const MemoKey& a, const MemoKey& b) {
        static_assert(sizeof(MemoKey) == 4, "three square numbers and a flag, no padding");
        return std::memcmp(&a, &b, sizeof(MemoKey)) == 0;
    }
};

struct HashedKey {
    MemoKey key;
    std::size_t hash;  // hash_value(key)
};

// Memo entries are never removed and both tables take theirs in step, so
// their nodes come from one pool, in order: a key's entries in the two tables
// lie side by side, and the second lookup of a memo hit finds its node in
// cache.
using MemoEntry = std::pair<const MemoKey, int>;
using MemoTable = boost::unordered_map<MemoKey, int, boost::hash<MemoKey>, std::equal_to<MemoKey>,
                                       detail::NodePoolAllocator<MemoEntry>>;

// Both tables always hold the same keys: the value of each evaluation, and the
// depth it was made at. Never cleared while the process lives.
extern MemoTable value_table;
extern MemoTable depth_table;

// The bytes value_table or depth_table holds now, nodes and buckets apart.
const detail::TableBytes& memo_table_bytes(const MemoTable& table);

// ---- Inline definitions (on the search's hot path) --------------------------
namespace detail {

// A memo key's squares are on the board and its defending king stands in the
// triangle, so the hash of a key is worked out from two small tables that
// `prepare_key_hashes` fills before the first memo lookup: the hash of every
// square, and what the two kings give the position's hash, by the defending
// king's place in the triangle and the attacking king's square. The rook and the side to
// move are combined in as boost::hash combines them. A table of every key's
// hash would take 640 KiB of cache from the memo tables, for no gain in time.
struct KeyHashes {
    std::array<std::size_t, square_count> square;
    std::array<std::array<std::size_t, square_count>, triangle_square_count> two_kings;
};
extern KeyHashes key_hashes;
extern bool key_hashes_ready;

// Hashing a key is a fair share of a memo hit, so each search hashes its key
// once and looks it up in both tables by that hash.
struct KnownHash {
    std::size_t hash;
    std::size_t operator()(const MemoKey&) const { return hash; }
};

inline MemoTable::iterator find(MemoTable& table, const HashedKey& key) {
    return table.find(key.key, KnownHash{key.hash}, std::equal_to<MemoKey>());
}

}  // namespace detail

inline HashedKey canonical_memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                                    bool attacker_to_move) {
    assert(triangle_indices[defending_king] >= 0 && attacking_king < square_count && rook < square_count);
    assert(detail::key_hashes_ready);
    // boost::hash of a std::size_t is the value itself, so combining a
    // square's hash combines the square.
    std::size_t position = detail::key_hashes.two_kings[std::size_t(triangle_index(defending_king))][attacking_king];
    boost::hash_combine(position, detail::key_hashes.square[rook]);
    std::size_t key = 0;
    boost::hash_combine(key, position);
    boost::hash_combine(key, attacker_to_move);
    return {MemoKey(PositionSquares{defending_king, attacking_king, rook}, attacker_to_move), key};
}

inline HashedKey memo_key(SquareIndex defending_king, SquareIndex attacking_king, SquareIndex rook,
                          bool attacker_to_move) {
    const PositionSquares canonical = canonical_squares(defending_king, attacking_king, rook);
    return canonical_memo_key(canonical[0], canonical[1], canonical[2], attacker_to_move);
}

// Inlined whole, so that a batch of lookups runs without a call. (Each table
// still mixes the hash into its own bucket: they share nothing.)
[[gnu::flatten]] inline std::optional<int> stored_value(const HashedKey& key, int depth) {
    const auto stored_depth = detail::find(depth_table, key);
    if (stored_depth == depth_table.end() || stored_depth->second < depth) return std::nullopt;
    return detail::find(value_table, key)->second;
}

}  // namespace korvel
