// korvel search: the minimax, and the expansion of a position the memo cannot answer.
#include "search.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <optional>

#include "memo.hpp"

#ifdef KORVEL_SEARCH_PROBE
#include <new>

#include "search_probe.hpp"
#endif

namespace korvel {
namespace {

// Starting values that every successor improves on.
constexpr int attacker_worst = 200;
constexpr int defender_worst = -100;

int evaluate(const HashedKey& hashed, int depth);

// Every call of search ends here, answered or evaluated; the test build
// counts it.
int counted(int value) {
#ifdef KORVEL_SEARCH_PROBE
    ++search_probe::calls;
    search_probe::least_value = std::min(search_probe::least_value, value);
    search_probe::greatest_value = std::max(search_probe::greatest_value, value);
    if (search_probe::calls == search_probe::fail_at_call) throw std::bad_alloc();
#endif
    return value;
}

// The search proper, from the key on.
[[gnu::always_inline]] inline int search_key(const HashedKey& key, int depth) {
    const std::optional<int> stored = stored_value(key, depth);
    return counted(stored ? *stored : evaluate(key, depth));
}

// The successors of a position, looked up in the memo tables all together
// before any is searched: nine in ten are answered there, and lookups that do
// not wait for each other overlap their cache misses. What a lookup finds
// stays true while the successors before it are searched: only an evaluation
// asked for more depth than an entry holds replaces it, and nothing below
// those successors asks for more depth than the lookup did. A successor not
// answered is looked up again when its turn comes: two defender moves can
// lead to one canonical position, which the first of them then stores.
// Every level of a search holds one of these: sixteen bytes a successor, its
// key, the key's hash and what the lookup found, so that 33 levels fit in a
// small thread stack.
template <std::size_t Capacity>
class Successors {
public:
    // The next successor, in move order.
    void add(const HashedKey& hashed) {
        assert(count_ < Capacity);
        keys_[count_] = hashed.key;
        hashes_[count_] = hashed.hash;
        ++count_;
    }

    void look_up(int depth) {
        for (std::size_t i = 0; i < count_; ++i) stored_[i] = stored_value(key(i), depth).value_or(not_stored);
    }

    std::size_t size() const { return count_; }

    // The value of the i-th successor searched `depth` plies deep: the one
    // looked up, or else a search.
    int value(std::size_t i, int depth) const {
        return stored_[i] != not_stored ? counted(stored_[i]) : search_key(key(i), depth);
    }

private:
    HashedKey key(std::size_t i) const { return {keys_[i], hashes_[i]}; }

    std::size_t count_ = 0;
    std::array<MemoKey, Capacity> keys_;
    std::array<std::size_t, Capacity> hashes_;
    static constexpr int not_stored = -1;  // values are never negative
    std::array<int, Capacity> stored_;
};

// The successors of a position with the attacking side to move: the king's
// moves, then the rook's. Made in a call of their own, so that what making
// them takes stays out of the frames the recursion stacks up.
[[gnu::noinline]] Successors<king_move_bound + rook_move_bound> attacker_successors(const PositionSquares& position) {
    const SquareIndex defending_king = position[0], attacking_king = position[1], rook = position[2];
    Successors<king_move_bound + rook_move_bound> successors;
    // The defending king stays where it is, in the triangle, so every
    // successor is in canonical orientation already: the position with the
    // moving piece's square replaced.
    for_each_attacker_move(
        defending_king, attacking_king, rook,
        [&](SquareIndex to) { successors.add(canonical_memo_key(defending_king, to, rook, false)); },
        [&](SquareIndex to) { successors.add(canonical_memo_key(defending_king, attacking_king, to, false)); });
    return successors;
}

// The same with the defending king to move; none when it has no legal move.
[[gnu::noinline]] Successors<king_move_bound> defender_successors(const PositionSquares& position) {
    const SquareIndex defending_king = position[0], attacking_king = position[1], rook = position[2];
    Successors<king_move_bound> successors;
    for_each_defender_move(defending_king, attacking_king, rook,
                           [&](SquareIndex to) { successors.add(memo_key(to, attacking_king, rook, true)); });
    return successors;
}

// The value of a position that the memo tables cannot answer at this depth,
// with the attacking side to move. Each side has a function of its own, so
// that a level of the recursion holds only what its own side needs.
[[gnu::noinline]] int evaluate_attacker_to_move(const HashedKey& hashed, int depth) {
    const PositionSquares& position = hashed.key.squares;
    if (position[2] == position[0]) return store(hashed, draw_mark, terminal_depth);  // the rook taken
    if (depth == 0) return store(hashed, draw_mark, 0);
    Successors successors = attacker_successors(position);
    successors.look_up(depth - 1);
    int best = attacker_worst;
    for (std::size_t i = 0; i < successors.size(); ++i) best = std::min(best, successors.value(i, depth - 1) + 1);
    return store(hashed, best, depth);
}

// The same with the defending king to move.
[[gnu::noinline]] int evaluate_defender_to_move(const HashedKey& hashed, int depth) {
    const PositionSquares& position = hashed.key.squares;
    const auto [defending_king, attacking_king, rook] = position;
    if (rook == defending_king) return store(hashed, draw_mark, terminal_depth);
    Successors successors = defender_successors(position);
    if (successors.size() == 0) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store(hashed, in_check ? checkmate_value : draw_mark, terminal_depth);
    }
    if (depth == 0) return store(hashed, draw_mark, 0);
    successors.look_up(depth - 1);
    int best = defender_worst;
    for (std::size_t i = 0; i < successors.size(); ++i) best = std::max(best, successors.value(i, depth - 1) + 1);
    return store(hashed, best, depth);
}

int evaluate(const HashedKey& hashed, int depth) {
    return hashed.key.attacker_to_move ? evaluate_attacker_to_move(hashed, depth)
                                       : evaluate_defender_to_move(hashed, depth);
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
