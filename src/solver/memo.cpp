// korvel memo: the hashes of keys, the two tables, and storing an entry in both.
#include "memo.hpp"

#ifdef KORVEL_SEARCH_PROBE
#include <new>

#include "search_probe.hpp"
#endif

namespace korvel {
namespace {

// What boost::hash gives a pair or sequence of these parts: each combined into
// a seed that starts from 0.
template <typename... Parts>
std::size_t combined_hash(const Parts&... parts) {
    std::size_t seed = 0;
    (boost::hash_combine(seed, parts), ...);
    return seed;
}

// Buckets a quarter full keep the chains a memo hit walks short.
MemoTable quarter_loaded_table(detail::TableBytes& bytes) {
    MemoTable table(0, MemoTable::hasher(), MemoTable::key_equal(), MemoTable::allocator_type(&bytes));
    table.max_load_factor(0.25f);
    return table;
}

detail::TableBytes value_table_bytes;
detail::TableBytes depth_table_bytes;

// Each new key takes one node in either table.
void request_node() {
#ifdef KORVEL_SEARCH_PROBE
    if (++search_probe::nodes == search_probe::fail_at_node) throw std::bad_alloc();
#endif
}

}  // namespace

std::size_t hash_value(Square square) { return combined_hash(square.x, square.y); }

std::size_t hash_value(const Position& position) {
    return combined_hash(position.defending_king, position.attacking_king, position.rook);
}

std::size_t hash_value(const MemoKey& key) { return combined_hash(key.position(), key.attacker_to_move); }

namespace detail {

KeyHashes key_hashes;
bool key_hashes_ready = false;

}  // namespace detail

void prepare_key_hashes() {
    if (detail::key_hashes_ready) return;
    detail::KeyHashes& hashes = detail::key_hashes;
    for (int n = 0; n < square_count; ++n) hashes.square[std::size_t(n)] = hash_value(square_at(SquareIndex(n)));
    for (int king = 0; king < square_count; ++king) {
        if (!in_canonical_triangle(square_at(SquareIndex(king)))) continue;
        for (int other = 0; other < square_count; ++other)
            hashes.two_kings[std::size_t(triangle_index(SquareIndex(king)))][std::size_t(other)] =
                combined_hash(hashes.square[std::size_t(king)], hashes.square[std::size_t(other)]);
    }
    detail::key_hashes_ready = true;
}

MemoTable value_table = quarter_loaded_table(value_table_bytes);
MemoTable depth_table = quarter_loaded_table(depth_table_bytes);

const detail::TableBytes& memo_table_bytes(const MemoTable& table) { return *table.get_allocator().bytes; }

void reserve_memo_tables() {
    // What a complete table build leaves.
    constexpr std::size_t memo_keys_of_a_build = 62'882;
    value_table.reserve(memo_keys_of_a_build);
    depth_table.reserve(memo_keys_of_a_build);
}

int store(const HashedKey& key, int value, int depth) {
    if (const auto stored = detail::find(value_table, key); stored != value_table.end()) {
        stored->second = value;
        detail::find(depth_table, key)->second = depth;
        return value;
    }
    request_node();
    const auto entry = value_table.emplace(key.key, value).first;
    try {
        request_node();
        depth_table.emplace(key.key, depth);
    } catch (...) {
        value_table.erase(entry);
        throw;
    }
    return value;
}

}  // namespace korvel
