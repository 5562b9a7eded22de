// korvel search: the minimax, and the expansion of a position the memo cannot answer.
#include "search.hpp"

#include <algorithm>
#include <cassert>
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

// The search proper. It is inlined into the expansion loops below: most
// successors are answered from the memo tables, and those then cost no call.
[[gnu::always_inline]] inline int search_inline(Square defending_king, Square attacking_king, Square rook,
                                                bool attacker_to_move, int depth) {
    const HashedKey key = memo_key(defending_king, attacking_king, rook, attacker_to_move);
    const std::optional<int> stored = stored_value(key, depth);
    const int value = stored ? *stored : evaluate(key, depth);
#ifdef KORVEL_SEARCH_PROBE
    ++search_probe::calls;
    search_probe::least_value = std::min(search_probe::least_value, value);
    search_probe::greatest_value = std::max(search_probe::greatest_value, value);
    if (search_probe::calls == search_probe::fail_at_call) throw std::bad_alloc();
#endif
    return value;
}

// The value of a position that the memo tables cannot answer at this depth.
[[gnu::noinline]] int evaluate(const HashedKey& hashed, int depth) {
    const auto& [defending_king, attacking_king, rook] = hashed.key.position;
    if (rook == defending_king) return store(hashed, draw_mark, terminal_depth);

    if (hashed.key.attacker_to_move) {
        if (depth == 0) return store(hashed, draw_mark, 0);
        const AttackerMoves moves = attacker_moves(defending_king, attacking_king, rook);
        int best = attacker_worst;
        for (const Square to : moves.king_moves)
            best = std::min(best, search_inline(defending_king, to, rook, false, depth - 1) + 1);
        for (const Square to : moves.rook_moves)
            best = std::min(best, search_inline(defending_king, attacking_king, to, false, depth - 1) + 1);
        return store(hashed, best, depth);
    }

    const DefenderMoves moves = defender_moves(defending_king, attacking_king, rook);
    if (moves.empty()) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store(hashed, in_check ? checkmate_value : draw_mark, terminal_depth);
    }
    if (depth == 0) return store(hashed, draw_mark, 0);
    int best = defender_worst;
    for (const Square to : moves)
        best = std::max(best, search_inline(to, attacking_king, rook, true, depth - 1) + 1);
    return store(hashed, best, depth);
}

}  // namespace

int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth) {
    assert(is_on_board(defending_king) && is_on_board(attacking_king) && is_on_board(rook));
    assert(attacking_king != defending_king);
    prepare_memo();
    return search_inline(defending_king, attacking_king, rook, attacker_to_move, std::max(depth, 0));
}

}  // namespace korvel
