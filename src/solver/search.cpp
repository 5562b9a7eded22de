// korvel search: canonical orientation, the memo tables and the minimax.
#include "search.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#ifdef KORVEL_SEARCH_PROBE
#include "search_probe.hpp"
#endif

namespace korvel {

// ---- Hashes of keys -----------------------------------------------------------

namespace {

// What boost::hash gives a pair or sequence of these parts: each combined into
// a seed that starts from 0.
template <typename... Parts>
std::size_t combined_hash(const Parts&... parts) {
    std::size_t seed = 0;
    (boost::hash_combine(seed, parts), ...);
    return seed;
}

}  // namespace

std::size_t hash_value(Square square) { return combined_hash(square.x, square.y); }

std::size_t hash_value(const Position& position) {
    return combined_hash(position.defending_king, position.attacking_king, position.rook);
}

std::size_t hash_value(const MemoKey& key) { return combined_hash(key.position, key.attacker_to_move); }

namespace {

// ---- Canonical orientation ------------------------------------------------------

constexpr std::int32_t last_line = board_size - 1;

constexpr Square mirror_columns(Square s) { return {last_line - s.x, s.y}; }
constexpr Square mirror_rows(Square s) { return {s.x, last_line - s.y}; }
constexpr Square swap_axes(Square s) { return {s.y, s.x}; }
constexpr Square mirror_anti_diagonal(Square s) { return {last_line - s.y, last_line - s.x}; }

template <typename Symmetry>
constexpr Position transformed(const Position& p, Symmetry symmetry) {
    return {symmetry(p.defending_king), symmetry(p.attacking_king), symmetry(p.rook)};
}

// Step one brings the defending king to x <= 3, y >= 4; step two reflects in
// x + y = 7 when it stands below that line.
constexpr Position canonical_by_rule(Square defending_king, Square attacking_king, Square rook) {
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

// Squares of the board by their number in board order, x * 8 + y.
constexpr std::uint8_t square_number(Square s) { return static_cast<std::uint8_t>(s.x * board_size + s.y); }
constexpr Square numbered_square(std::uint8_t n) { return {n / board_size, n % board_size}; }

// Both steps depend on the defending king's square alone, so for each of its
// 64 squares the table holds where that symmetry takes every square.
constexpr auto canonical_images = [] {
    std::array<std::array<std::uint8_t, 64>, 64> images{};
    for (std::uint8_t king = 0; king < 64; ++king)
        for (std::uint8_t square = 0; square < 64; ++square) {
            const Square s = numbered_square(square);
            images[king][square] = square_number(canonical_by_rule(numbered_square(king), s, s).rook);
        }
    return images;
}();

// ---- Memo keys and their hashes ---------------------------------------------------

// The squares of a memo key are on the board and its defending king stands in
// the canonical triangle, so most of its hash comes from tables worked out
// once with hash_value: the hash of each square, and of the first two squares
// for each defending king in the triangle and each attacking king. boost::hash
// of a std::size_t is the value itself, so combining a square's hash combines
// the square.
const std::array<std::size_t, 64> board_square_hashes = [] {
    std::array<std::size_t, 64> hashes{};
    for (std::uint8_t n = 0; n < 64; ++n) hashes[n] = hash_value(numbered_square(n));
    return hashes;
}();

constexpr std::array<std::int8_t, 64> triangle_numbers = [] {
    std::array<std::int8_t, 64> numbers{};
    std::int8_t next = 0;
    for (std::uint8_t n = 0; n < 64; ++n) {
        const Square s = numbered_square(n);
        numbers[n] = (s.x <= 3 && s.y >= 4 && s.x + s.y >= last_line) ? next++ : -1;
    }
    return numbers;
}();

const auto two_king_hashes = [] {
    std::array<std::array<std::size_t, 64>, 10> hashes{};
    for (std::uint8_t king = 0; king < 64; ++king) {
        if (triangle_numbers[king] < 0) continue;
        for (std::uint8_t other = 0; other < 64; ++other)
            hashes[static_cast<std::size_t>(triangle_numbers[king])][other] =
                combined_hash(board_square_hashes[king], board_square_hashes[other]);
    }
    return hashes;
}();

struct HashedKey {
    MemoKey key;
    std::size_t hash;  // hash_value(key)
};

// The memo key of a position on the board, in canonical orientation, with its hash.
HashedKey canonical_key(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move) {
    const std::array<std::uint8_t, 64>& image = canonical_images[square_number(defending_king)];
    const std::uint8_t king = image[square_number(defending_king)];
    const std::uint8_t other_king = image[square_number(attacking_king)];
    const std::uint8_t rook_square = image[square_number(rook)];

    std::size_t position_hash = two_king_hashes[static_cast<std::size_t>(triangle_numbers[king])][other_king];
    boost::hash_combine(position_hash, board_square_hashes[rook_square]);
    const std::size_t hash = combined_hash(position_hash, attacker_to_move);
    return {{{numbered_square(king), numbered_square(other_king), numbered_square(rook_square)}, attacker_to_move},
            hash};
}

// ---- The memo tables ---------------------------------------------------------------

// Hands out blocks of one size, the size of a memo table node, from chunks it
// keeps until the process ends; a released block is handed out again first.
// Blocks of any other size come from the heap.
class NodePool {
public:
    NodePool() = default;
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    void* allocate(std::size_t size) {
        if (block_size_ == 0) block_size_ = round_up(std::max(size, sizeof(FreeBlock)), alignof(std::max_align_t));
        if (size != block_size_) return ::operator new(size);
        if (free_ != nullptr) return std::exchange(free_, free_->next);
        if (next_ == chunk_end_) add_chunk();
        return std::exchange(next_, next_ + block_size_);
    }

    void release(void* block, std::size_t size) noexcept {
        if (size != block_size_) return ::operator delete(block);
        free_ = new (block) FreeBlock{free_};
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    static constexpr std::size_t blocks_per_chunk = 2048;

    static constexpr std::size_t round_up(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }

    void add_chunk() {
        chunks_.push_back(std::make_unique<std::byte[]>(blocks_per_chunk * block_size_));
        next_ = chunks_.back().get();
        chunk_end_ = next_ + blocks_per_chunk * block_size_;
    }

    std::size_t block_size_ = 0;
    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::byte* next_ = nullptr;
    std::byte* chunk_end_ = nullptr;
    FreeBlock* free_ = nullptr;
};

// Defined before the tables, so that it outlives them.
NodePool memo_nodes;

// Half-full buckets keep the chains a memo hit walks short.
MemoTable half_loaded_table() {
    MemoTable table;
    table.max_load_factor(0.5f);
    return table;
}

// Hashing a key is a fair share of a memo hit, so each search hashes its key
// once and looks it up in both tables by that hash.
struct KnownHash {
    std::size_t hash;
    std::size_t operator()(const MemoKey&) const { return hash; }
};

MemoTable::iterator find(MemoTable& table, const MemoKey& key, std::size_t hash) {
    return table.find(key, KnownHash{hash}, std::equal_to<MemoKey>());
}

// The value stored for the key if the tables answer a search this deep.
// Inlined together, the two lookups share the mixing of the hash into a bucket.
[[gnu::flatten]] std::optional<int> stored_value(const MemoKey& key, std::size_t hash, int depth) {
    const auto stored_depth = find(depth_table, key, hash);
    if (stored_depth == depth_table.end() || stored_depth->second < depth) return std::nullopt;
    return find(value_table, key, hash)->second;
}

// Writes one key's entry in both tables. Should memory run out between the two
// inserts of a new key, the first is taken back, so the tables keep one set of
// keys.
int store(const MemoKey& key, std::size_t hash, int value, int depth) {
    if (const auto stored = find(value_table, key, hash); stored != value_table.end()) {
        stored->second = value;
        find(depth_table, key, hash)->second = depth;
        return value;
    }
    const auto entry = value_table.emplace(key, value).first;
    try {
        depth_table.emplace(key, depth);
    } catch (...) {
        value_table.erase(entry);
        throw;
    }
    return value;
}

// ---- The minimax -----------------------------------------------------------------

// Starting values that every successor improves on.
constexpr int attacker_worst = 200;
constexpr int defender_worst = -100;

// The value of a position that the memo tables cannot answer at this depth.
int evaluate(const MemoKey& key, std::size_t hash, int depth) {
    const auto& [defending_king, attacking_king, rook] = key.position;
    if (rook == defending_king) return store(key, hash, draw_mark, terminal_depth);

    if (key.attacker_to_move) {
        if (depth == 0) return store(key, hash, draw_mark, 0);
        const AttackerMoves moves = attacker_moves(defending_king, attacking_king, rook);
        int best = attacker_worst;
        for (const Square to : moves.king_moves)
            best = std::min(best, search(defending_king, to, rook, false, depth - 1) + 1);
        for (const Square to : moves.rook_moves)
            best = std::min(best, search(defending_king, attacking_king, to, false, depth - 1) + 1);
        return store(key, hash, best, depth);
    }

    const DefenderMoves moves = defender_moves(defending_king, attacking_king, rook);
    if (moves.empty()) {
        const bool in_check = is_defender_attacked(defending_king, attacking_king, rook);
        return store(key, hash, in_check ? checkmate_value : draw_mark, terminal_depth);
    }
    if (depth == 0) return store(key, hash, draw_mark, 0);
    int best = defender_worst;
    for (const Square to : moves)
        best = std::max(best, search(to, attacking_king, rook, true, depth - 1) + 1);
    return store(key, hash, best, depth);
}

}  // namespace

void* allocate_memo_node(std::size_t size) {
#ifdef KORVEL_SEARCH_PROBE
    if (++search_probe::nodes == search_probe::fail_at_node) throw std::bad_alloc();
#endif
    return memo_nodes.allocate(size);
}
void release_memo_node(void* node, std::size_t size) noexcept { memo_nodes.release(node, size); }

MemoTable value_table = half_loaded_table();
MemoTable depth_table = half_loaded_table();

void reserve_memo_tables() {
    // What a complete table build leaves.
    constexpr std::size_t memo_keys_of_a_build = 62'882;
    value_table.reserve(memo_keys_of_a_build);
    depth_table.reserve(memo_keys_of_a_build);
}

Position canonical_position(Square defending_king, Square attacking_king, Square rook) {
    if (!is_on_board(defending_king) || !is_on_board(attacking_king) || !is_on_board(rook))
        return canonical_by_rule(defending_king, attacking_king, rook);
    return canonical_key(defending_king, attacking_king, rook, false).key.position;
}

int search(Square defending_king, Square attacking_king, Square rook, bool attacker_to_move, int depth) {
    depth = std::max(depth, 0);
    const auto [key, hash] = canonical_key(defending_king, attacking_king, rook, attacker_to_move);
    const std::optional<int> stored = stored_value(key, hash, depth);
    const int value = stored ? *stored : evaluate(key, hash, depth);
#ifdef KORVEL_SEARCH_PROBE
    ++search_probe::calls;
    search_probe::least_value = std::min(search_probe::least_value, value);
    search_probe::greatest_value = std::max(search_probe::greatest_value, value);
    if (search_probe::calls == search_probe::fail_at_call) throw std::bad_alloc();
    if (depth >= 32 && ++search_probe::root_calls == search_probe::fail_at_root_call) throw std::bad_alloc();
#endif
    return value;
}

}  // namespace korvel
