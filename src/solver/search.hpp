// korvel search: depth-limited minimax over king and rook against king, memoised
// per canonical position in two process-wide tables.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

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

    // Every memo hit compares keys: the six coordinates as one block.
    friend bool operator==(const MemoKey& a, const MemoKey& b) {
        static_assert(sizeof(Position) == 6 * sizeof(std::int32_t), "Position has no padding");
        return std::memcmp(&a.position, &b.position, sizeof(Position)) == 0 &&
               a.attacker_to_move == b.attacker_to_move;
    }
};

// boost::hash of the key read as a pair (sequence of (x, y) pairs, flag).
std::size_t hash_value(Square square);
std::size_t hash_value(const Position& position);
std::size_t hash_value(const MemoKey& key);

// Memo entries are never removed and both tables take theirs in step, so their
// nodes come from one pool, in order: a key's entries in the two tables lie
// side by side, and the second lookup of a memo hit finds its node in cache.
// Bucket arrays come from the heap as usual.
void* allocate_memo_node(std::size_t size);
void release_memo_node(void* node, std::size_t size) noexcept;

template <typename T>
struct MemoAllocator {
    using value_type = T;

    MemoAllocator() = default;
    template <typename U>
    MemoAllocator(const MemoAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n == 1) return static_cast<T*>(allocate_memo_node(sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1) return release_memo_node(p, sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    friend bool operator==(const MemoAllocator&, const MemoAllocator&) { return true; }
    friend bool operator!=(const MemoAllocator&, const MemoAllocator&) { return false; }
};

using MemoTable = boost::unordered_map<MemoKey, int, boost::hash<MemoKey>, std::equal_to<MemoKey>,
                                       MemoAllocator<std::pair<const MemoKey, int>>>;

// Both tables always hold the same keys: the value of each evaluation, and the
// depth it was made at. Never cleared while the process lives.
extern MemoTable value_table;
extern MemoTable depth_table;

// Makes room in both tables for the keys a complete table build leaves, so
// that the build never rehashes them.
void reserve_memo_tables();

}  // namespace korvel
