// The floor that bench/run-native measures korvel's first build against: the
// same solver, the same moves in the same order, the same canonical
// orientation, memo rules and call order, written plainly, with the two memo
// tables replaced by arrays indexed directly by the canonical key (defending
// king's place in the triangle, side to move, attacking king, rook). The
// arrays take 160 KiB and fit in a core's own cache: what the floor costs is
// what the algorithm costs. It shares no code with korvel.
//
// One run is one build in this fresh process. It prints the build's time, the
// time per search call, the calls and keys it made, and a digest of both lists
// that korvel's first-build benchmark prints too, so that run-native can check
// that both built the same lists.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Square {
    int x;
    int y;
};

bool operator==(Square a, Square b) { return a.x == b.x && a.y == b.y; }
bool operator!=(Square a, Square b) { return !(a == b); }

struct Position {
    Square defending_king;
    Square attacking_king;
    Square rook;
};

struct TableEntry {
    Position position;
    int value;
};

// A move list the size of the most moves a piece can have.
struct Moves {
    Square squares[14];
    int count = 0;
    void add(Square s) { squares[count++] = s; }
};

constexpr int table_depth = 32;
constexpr int checkmate = 0;
constexpr int draw_mark = 100;
constexpr int terminal_depth = 100;
constexpr int attacker_start = 200;
constexpr int defender_start = -100;

// dx outer, dy inner; (0, 0) is the king's own square and is skipped.
constexpr Square king_steps[9] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 0},
                                  {0, 1},   {1, -1}, {1, 0},  {1, 1}};
constexpr Square rook_directions[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};

bool on_board(Square s) { return s.x >= 0 && s.x < 8 && s.y >= 0 && s.y < 8; }
int king_distance(Square a, Square b) { return std::max(std::abs(a.x - b.x), std::abs(a.y - b.y)); }
bool in_triangle(Square s) { return s.y > 3 && s.x < 4 && s.x + s.y >= 7; }

// Only the attacking king blocks the rook; a rook on s itself attacks nothing.
bool rook_attacks(Square s, Square king, Square rook) {
    const bool same_column = s.x == rook.x;
    const bool same_row = s.y == rook.y;
    if (same_column == same_row) return false;
    if (same_column) return !(king.x == rook.x && (king.y - rook.y) * (s.y - king.y) > 0);
    return !(king.y == rook.y && (king.x - rook.x) * (s.x - king.x) > 0);
}

bool is_defender_attacked(Square s, Square king, Square rook) {
    return king_distance(s, king) == 1 || rook_attacks(s, king, rook);
}

Moves defender_moves(Square d, Square a, Square r) {
    Moves moves;
    for (Square step : king_steps) {
        const Square t{d.x + step.x, d.y + step.y};
        if (on_board(t) && t != d && !is_defender_attacked(t, a, r)) moves.add(t);
    }
    return moves;
}

Moves king_moves(Square d, Square a, Square r) {
    Moves moves;
    for (Square step : king_steps) {
        const Square t{a.x + step.x, a.y + step.y};
        if (on_board(t) && t != a && t != r && king_distance(t, d) > 1) moves.add(t);
    }
    return moves;
}

Moves rook_moves(Square a, Square r) {
    Moves moves;
    for (Square direction : rook_directions)
        for (Square t{r.x + direction.x, r.y + direction.y}; on_board(t) && t != a;
             t = {t.x + direction.x, t.y + direction.y})
            moves.add(t);
    return moves;
}

// First by the defending king's quarter, then by the reflection in x + y = 7
// when the defending king stands below that line.
Position canonical_position(Square d, Square a, Square r) {
    Position p{d, a, r};
    Square* squares[3] = {&p.defending_king, &p.attacking_king, &p.rook};
    const int x0 = d.x, y0 = d.y;
    for (Square* s : squares) {
        if (y0 >= 4 && x0 >= 4)
            *s = {7 - s->x, s->y};
        else if (y0 <= 3 && x0 <= 3)
            *s = {s->x, 7 - s->y};
        else if (y0 <= 3 && x0 >= 4)
            *s = {s->y, s->x};
    }
    if (p.defending_king.x < 7 - p.defending_king.y)
        for (Square* s : squares) *s = {7 - s->y, 7 - s->x};
    return p;
}

// The memo: one entry per canonical key. A depth of -1 marks a key never stored.
struct MemoEntry {
    std::int8_t value;  // 0..117 during a build
    std::int8_t depth;
};
MemoEntry memo[10][2][64][64];
long search_calls = 0;
long keys = 0;

int triangle_place(Square s) {
    static constexpr int places[4][4] = {{-1, -1, -1, 0}, {-1, -1, 1, 2}, {-1, 3, 4, 5}, {6, 7, 8, 9}};
    return places[s.x][s.y - 4];
}

MemoEntry& memo_entry(const Position& p, bool attacker_to_move) {
    return memo[triangle_place(p.defending_king)][attacker_to_move][p.attacking_king.x * 8 + p.attacking_king.y]
               [p.rook.x * 8 + p.rook.y];
}

int store(MemoEntry& entry, int value, int depth) {
    keys += entry.depth < 0;
    entry = {std::int8_t(value), std::int8_t(depth)};
    return value;
}

int search(Square defender, Square king, Square rook, bool attacker_to_move, int depth);

// A position the memo cannot answer at this depth.
[[gnu::noinline]] int evaluate(const Position& p, bool attacker_to_move, int depth, MemoEntry& entry) {
    const Square d = p.defending_king, a = p.attacking_king, r = p.rook;
    if (r == d) return store(entry, draw_mark, terminal_depth);
    Moves escapes;
    if (!attacker_to_move) {
        escapes = defender_moves(d, a, r);
        if (escapes.count == 0) return store(entry, is_defender_attacked(d, a, r) ? checkmate : draw_mark, terminal_depth);
    }
    if (depth == 0) return store(entry, draw_mark, 0);

    int best;
    if (attacker_to_move) {
        best = attacker_start;
        const Moves kings = king_moves(d, a, r);
        for (int i = 0; i < kings.count; ++i) best = std::min(best, search(d, kings.squares[i], r, false, depth - 1) + 1);
        const Moves rooks = rook_moves(a, r);
        for (int i = 0; i < rooks.count; ++i) best = std::min(best, search(d, a, rooks.squares[i], false, depth - 1) + 1);
    } else {
        best = defender_start;
        for (int i = 0; i < escapes.count; ++i) best = std::max(best, search(escapes.squares[i], a, r, true, depth - 1) + 1);
    }
    // Nothing is ever inserted, so `entry` still names this key after the
    // successors' searches.
    return store(entry, best, depth);
}

int search(Square defender, Square king, Square rook, bool attacker_to_move, int depth) {
    ++search_calls;
    const Position p = canonical_position(defender, king, rook);
    MemoEntry& entry = memo_entry(p, attacker_to_move);
    if (entry.depth >= depth) return entry.value;
    return evaluate(p, attacker_to_move, depth, entry);
}

std::vector<Position> defender_positions() {
    std::vector<Position> positions;
    for (int d = 0; d < 64; ++d) {
        const Square ds{d / 8, d % 8};
        if (!in_triangle(ds)) continue;
        for (int a = 0; a < 64; ++a)
            for (int r = 0; r < 64; ++r) {
                const Square as{a / 8, a % 8}, rs{r / 8, r % 8};
                if (a == d || r == a || r == d || king_distance(ds, as) <= 1) continue;
                positions.push_back({ds, as, rs});
            }
    }
    return positions;
}

std::vector<TableEntry> searched(const std::vector<Position>& positions, bool attacker_to_move) {
    std::vector<TableEntry> entries;
    for (const Position& p : positions)
        if (!attacker_to_move || !is_defender_attacked(p.defending_king, p.attacking_king, p.rook))
            entries.push_back({p, search(p.defending_king, p.attacking_king, p.rook, attacker_to_move, table_depth)});
    return entries;
}

// FNV-1a over every entry's six coordinates and value, defender to move first,
// as korvel's first-build benchmark digests its lists.
std::uint64_t digest(const std::vector<TableEntry>& defender_to_move, const std::vector<TableEntry>& attacker_to_move) {
    std::uint64_t h = 14695981039346656037ull;
    for (const auto* table : {&defender_to_move, &attacker_to_move})
        for (const TableEntry& e : *table)
            for (int n : {e.position.defending_king.x, e.position.defending_king.y, e.position.attacking_king.x,
                          e.position.attacking_king.y, e.position.rook.x, e.position.rook.y, e.value}) {
                h ^= std::uint64_t(std::uint32_t(n));
                h *= 1099511628211ull;
            }
    return h;
}

}  // namespace

int main() {
    const auto started = std::chrono::steady_clock::now();
    for (auto& by_place : memo)
        for (auto& by_side : by_place)
            for (auto& by_king : by_side)
                for (MemoEntry& entry : by_king) entry = {0, -1};
    const std::vector<Position> positions = defender_positions();
    const std::vector<TableEntry> attacker_to_move = searched(positions, true);
    const std::vector<TableEntry> defender_to_move = searched(positions, false);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("build_ms=%.1f ns_per_call=%.2f calls=%ld keys=%ld digest=%016llx\n", took.count() * 1e3,
                took.count() * 1e9 / double(search_calls), search_calls, keys,
                static_cast<unsigned long long>(digest(defender_to_move, attacker_to_move)));
}
