// korvel search: the minimax, and the expansion of a position the memo cannot answer.
#include "search.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <optional>

#include "memo.hpp"

#ifdef KORVEL_INSTRUMENTED
#include <new>

#include "instruments.hpp"
#endif

namespace korvel {
namespace {

// Starting values that every successor improves on.
constexpr int attacker_worst = 200;
constexpr int defender_worst = -100;

int evaluate(const MemoKey& key, int depth);

// Every call of search ends here, answered or evaluated; the test build
// counts it.
int counted(int value) {
#ifdef KORVEL_INSTRUMENTED
    ++instruments::calls;
    instruments::least_value = std::min(instruments::least_value, value);
    instruments::greatest_value = std::max(instruments::greatest_value, value);
    if (instruments::calls == instruments::fail_at_call) throw std::bad_alloc();
#endif
    return value;
}

// The search proper, from the key on.
[[gnu::always_inline]] inline int search_key(const MemoKey& key, int depth) {
    const std::optional<int> stored = stored_value(key, depth);
    return counted(stored ? *stored : evaluate(key, depth));
}

// The successors of a position, in move order. Before any is searched, what
// their lookups will read is asked of the memory for all of them at once, so
// that their cache misses overlap rather than follow one another: nine in ten
// are answered by the memo tables, most of them without a wait. Each is still looked
// up, and searched if need be, in its turn. Every level of a search holds one
// of these, four bytes a successor, so that 33 levels take little stack.
class Successors {
public:
    // The next successor, in move order.
    void add(const MemoKey& key) {
        assert(count_ < capacity);
        keys_[count_] = key;
        ++count_;
    }

    // Before the first is searched.
    void prefetch() const {
        for (std::size_t i = 0; i < count_; ++i) prefetch_memo_entries(key(i));
    }

    std::size_t size() const { return count_; }

    int value(std::size_t i, int depth) const { return search_key(key(i), depth); }

private:
    const MemoKey& key(std::size_t i) const { return keys_[i]; }

    // Room for the attacking side's moves; the defending king has fewer.
    static constexpr std::size_t capacity = king_move_bound + rook_move_bound;
    std::size_t count_ = 0;
    std::array<MemoKey, capacity> keys_;
};

// The successors of a position with the attacking side to move: the king's
// moves, then the rook's. Made in a call of their own, so that what making
// them takes stays out of the frames the recursion stacks up.
[[gnu::noinline]] Successors attacker_successors(const PositionSquares& position) {
    const SquareIndex defending_king = position[0], attacking_king = position[1], rook = position[2];
    Successors successors;
    // The defending king stays where it is, in the triangle, so every
    // successor is in canonical orientation already: the position with the
    // moving piece's square replaced.
    for_each_attacker_move(
        defending_king, attacking_king, rook,
        [&](SquareIndex to) { successors.add(MemoKey(PositionSquares{defending_king, to, rook}, false)); },
        [&](SquareIndex to) { successors.add(MemoKey(PositionSquares{defending_king, attacking_king, to}, false)); });
    return successors;
}

// The same with the defending king to move; none when it has no legal move.
[[gnu::noinline]] Successors defender_successors(const PositionSquares& position) {
    const SquareIndex defending_king = position[0], attacking_king = position[1], rook = position[2];
    Successors successors;
    for_each_defender_move(defending_king, attacking_king, rook,
                           [&](SquareIndex to) { successors.add(memo_key(to, attacking_king, rook, true)); });
    return successors;
}

// The value of a position that the memo tables cannot answer at this depth,
// with the attacking side to move. Each side has a function of its own, so
// that a level of the recursion holds only what its own side needs.
[[gnu::noinline]] int evaluate_attacker_to_move(const MemoKey& key, int depth) {
    const PositionSquares position = key.squares();
    if (position[2] == position[0]) return store(key, rook_taken_value, terminal_depth);
    if (depth == 0) return store(key, horizon_value, 0);
    Successors successors = attacker_successors(position);
    successors.prefetch();
    int best = attacker_worst;
    for (std::size_t i = 0; i < successors.size(); ++i) best = std::min(best, successors.value(i, depth - 1) + 1);
    return store(key, best, depth);
}

// The same with the defending king to move.
[[gnu::noinline]] int evaluate_defender_to_move(const MemoKey& key, int depth) {
    const PositionSquares position = key.squares();
    const auto [defending_king, attacking_king, rook] = position;
    if (rook == defending_king) return store(key, rook_taken_value, terminal_depth);
    Successors successors = defender_successors(position);
    if (successors.size() == 0) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store(key, in_check ? checkmate_value : stalemate_value, terminal_depth);
    }
    if (depth == 0) return store(key, horizon_value, 0);
    successors.prefetch();
    int best = defender_worst;
    for (std::size_t i = 0; i < successors.size(); ++i) best = std::max(best, successors.value(i, depth - 1) + 1);
    return store(key, best, depth);
}

int evaluate(const MemoKey& key, int depth) {
    return key.attacker_to_move() ? evaluate_attacker_to_move(key, depth) : evaluate_defender_to_move(key, depth);
}

}  // namespace

int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth) {
    assert(is_on_board(defending_king) && is_on_board(attacking_king) && is_on_board(rook));
    assert(attacking_king != defending_king);
    prepare_key_hashes();
    return search_key(memo_key(square_index(defending_king), square_index(attacking_king), square_index(rook),
                               attacker_to_move),
                      std::max(depth, 0));
}

}  // namespace korvel
