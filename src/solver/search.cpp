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

// The successors of a position, with their keys, looked up in the memo
// tables all together before any is searched: nine in ten are answered there,
// and lookups that do not wait for each other overlap their cache misses.
// What a lookup finds stays true while the successors before it are searched:
// only an evaluation asked for more depth than an entry holds replaces it, and
// nothing below those successors asks for more depth than the lookup did.
template <std::size_t Capacity>
class Successors {
public:
    void add(const HashedKey& key) {
        assert(count_ < Capacity);
        keys_[count_++] = key;
    }

    void look_up(int depth) {
        for (std::size_t i = 0; i < count_; ++i) stored_[i] = stored_value(keys_[i], depth);
    }

    std::size_t size() const { return count_; }

    // The value of the i-th successor searched `depth` plies deep: the one
    // looked up, or else a search.
    int value(std::size_t i, int depth) const {
        return stored_[i] ? counted(*stored_[i]) : search_key(keys_[i], depth);
    }

private:
    std::array<HashedKey, Capacity> keys_;
    std::array<std::optional<int>, Capacity> stored_;
    std::size_t count_ = 0;
};

// The value of a position that the memo tables cannot answer at this depth.
[[gnu::noinline]] int evaluate(const HashedKey& hashed, int depth) {
    const auto& [defending_king, attacking_king, rook] = hashed.key.position;
    if (rook == defending_king) return store(hashed, draw_mark, terminal_depth);

    if (hashed.key.attacker_to_move) {
        if (depth == 0) return store(hashed, draw_mark, 0);
        // The defending king stays where it is, in the triangle, so every
        // successor is in canonical orientation already.
        const AttackerMoves moves = attacker_moves(defending_king, attacking_king, rook);
        Successors<king_move_bound + rook_move_bound> successors;
        for (const Square to : moves.king_moves) successors.add(canonical_memo_key(defending_king, to, rook, false));
        for (const Square to : moves.rook_moves)
            successors.add(canonical_memo_key(defending_king, attacking_king, to, false));
        successors.look_up(depth - 1);
        int best = attacker_worst;
        for (std::size_t i = 0; i < successors.size(); ++i) best = std::min(best, successors.value(i, depth - 1) + 1);
        return store(hashed, best, depth);
    }

    const DefenderMoves moves = defender_moves(defending_king, attacking_king, rook);
    if (moves.empty()) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store(hashed, in_check ? checkmate_value : draw_mark, terminal_depth);
    }
    if (depth == 0) return store(hashed, draw_mark, 0);
    Successors<king_move_bound> successors;
    for (const Square to : moves) successors.add(memo_key(to, attacking_king, rook, true));
    successors.look_up(depth - 1);
    int best = defender_worst;
    for (std::size_t i = 0; i < successors.size(); ++i) best = std::max(best, successors.value(i, depth - 1) + 1);
    return store(hashed, best, depth);
}

}  // namespace

int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth) {
    assert(is_on_board(defending_king) && is_on_board(attacking_king) && is_on_board(rook));
    assert(attacking_king != defending_king);
    prepare_memo();
    return search_key(memo_key(defending_king, attacking_king, rook, attacker_to_move), std::max(depth, 0));
}

}  // namespace korvel
