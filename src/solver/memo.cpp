// korvel memo: the hashes of keys, the two tables, and storing an entry in both.
#include "memo.hpp"

#include <boost/container_hash/hash.hpp>

#ifdef KORVEL_INSTRUMENTED
#include <new>

#include "instruments.hpp"
#endif

namespace korvel {
namespace {

// Buckets a quarter full keep the chains a memo hit walks short.
MemoTable quarter_loaded_table(detail::TableMemory& memory) {
    MemoTable table(0, MemoTable::hasher(), MemoTable::key_equal(),
                    MemoTable::allocator_type(&detail::node_arena, &memory));
    table.max_load_factor(0.25f);
    return table;
}

// Each new key takes one node in either table.
void request_node() {
#ifdef KORVEL_INSTRUMENTED
    if (++instruments::nodes == instruments::fail_at_node) throw std::bad_alloc();
#endif
}

}  // namespace

namespace detail {

std::array<std::size_t, memo_key_count> key_hashes;
bool key_hashes_ready = false;
NodeArena node_arena{memo_key_count};
// value_table's nodes take the first half of each slot, depth_table's the second.
TableMemory value_table_memory{0, 0, 0};
TableMemory depth_table_memory{0, 0, 1};

}  // namespace detail

// boost::hash of a pair or a sequence starts from 0 and combines each part in
// turn: a square's hash combines x and y, the position's its three squares'
// hashes, the key's the position's hash and the flag. Only numbers are
// combined here, each key's hash from its parts' hashes: GCC 12 at -O1 drops
// the stores that fill a position made for a hash that takes it by
// reference, having judged that the hash reads nothing of it.
void prepare_key_hashes() {
    if (detail::key_hashes_ready) return;
    std::array<std::size_t, square_count> square_hashes;
    for (SquareIndex n = 0; n < square_count; ++n) {
        const Square square = square_at(n);
        std::size_t hash = 0;
        boost::hash_combine(hash, square.x);
        boost::hash_combine(hash, square.y);
        square_hashes[n] = hash;
    }
    for (SquareIndex defending_king = 0; defending_king < square_count; ++defending_king) {
        if (triangle_indices[defending_king] < 0) continue;
        for (SquareIndex attacking_king = 0; attacking_king < square_count; ++attacking_king)
            for (SquareIndex rook = 0; rook < square_count; ++rook) {
                std::size_t position_hash = 0;
                for (const SquareIndex square : {defending_king, attacking_king, rook})
                    boost::hash_combine(position_hash, square_hashes[square]);
                for (const bool attacker_to_move : {false, true}) {
                    std::size_t key_hash = 0;
                    boost::hash_combine(key_hash, position_hash);
                    boost::hash_combine(key_hash, attacker_to_move);
                    const MemoKey key(PositionSquares{defending_king, attacking_king, rook}, attacker_to_move);
                    detail::key_hashes[key.number] = key_hash;
                }
            }
    }
    detail::key_hashes_ready = true;
}

MemoTable value_table = quarter_loaded_table(detail::value_table_memory);
MemoTable depth_table = quarter_loaded_table(detail::depth_table_memory);

const detail::TableMemory& memo_table_memory(const MemoTable& table) { return *table.get_allocator().memory; }

void reserve_memo_tables() {
    // What a complete table build leaves.
    constexpr std::size_t memo_keys_of_a_build = 62'882;
    value_table.reserve(memo_keys_of_a_build);
    depth_table.reserve(memo_keys_of_a_build);
}

int store(const MemoKey& key, int value, int depth) {
    if (const auto stored = value_table.find(key); stored != value_table.end()) {
        stored->second = value;
        depth_table.find(key)->second = depth;
        return value;
    }
    request_node();
    detail::node_arena.set_next_key(key.number);
    const auto entry = value_table.emplace(key, value).first;
    try {
        request_node();
        depth_table.emplace(key, depth);
    } catch (...) {
        value_table.erase(entry);
        throw;
    }
    return value;
}

}  // namespace korvel
