// The floor that bench/run-native measures korvel's first build against: the
// same solver, the same moves in the same order, the same canonical
// orientation, memo rules and call order, written as plainly and as fast as
// the algorithm allows. Squares are numbers 0..63 in board order (x * 8 + y);
// fixed arrays give every square's image under the canonical orientation by
// the defending king's square, the king's steps and the rook's lines; the
// memo is an array indexed directly by the canonical key (the defending
// king's place in the triangle, side to move, attacking king, rook), 160 KiB
// that fit in a core's own cache. No batching, no hashing: what the floor
// costs is what the algorithm costs. It shares no code with korvel.
//
// One run is one build in this fresh process. It prints the build's time, wall
// and CPU (user and system), the wall time per search call, the calls and keys it made, and a digest of both lists
// that korvel's first-build benchmark prints too, so that run-native can check
// that both built the same lists.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Sq = int;  // x * 8 + y
constexpr int file_of(Sq s) { return s >> 3; }
constexpr int rank_of(Sq s) { return s & 7; }
constexpr Sq square(int x, int y) { return x * 8 + y; }
constexpr bool on_board(int x, int y) { return x >= 0 && x < 8 && y >= 0 && y < 8; }
constexpr bool in_triangle(int x, int y) { return y > 3 && x < 4 && x + y >= 7; }

constexpr int table_depth = 32;
constexpr int checkmate = 0;
constexpr int draw_mark = 100;
constexpr int terminal_depth = 100;
constexpr int attacker_start = 200;
constexpr int defender_start = -100;

using Bitboard = std::uint64_t;  // one bit a square, by number
constexpr Bitboard bit(Sq s) { return Bitboard{1} << s; }

// Every fixed array the rules and the orientation need, by square number.
struct FixedArrays {
    // The squares a king step away.
    Bitboard king_zone[64];
    // The rook's line from each square in each direction, nearest first
    // (increasing x, increasing y, decreasing x, decreasing y), as squares
    // and as a bitboard.
    std::uint8_t rook_line[64][4][7];
    std::uint8_t rook_line_length[64][4];
    Bitboard ray[64][4];
    // Where the canonical orientation takes each square, by the defending
    // king's square: first into the quarter x <= 3, y >= 4, then reflected
    // in x + y = 7 when the king stands below that line.
    std::uint8_t image[64][64];
    // The defending king's place in the triangle, for the memo's index.
    std::int8_t triangle_place[64];
};

constexpr FixedArrays make_fixed_arrays() {
    FixedArrays t{};
    constexpr int directions[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    int place = 0;
    for (Sq s = 0; s < 64; ++s) {
        const int x = file_of(s), y = rank_of(s);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                if ((dx != 0 || dy != 0) && on_board(x + dx, y + dy)) t.king_zone[s] |= bit(square(x + dx, y + dy));
        for (int d = 0; d < 4; ++d) {
            int length = 0;
            for (int cx = x + directions[d][0], cy = y + directions[d][1]; on_board(cx, cy);
                 cx += directions[d][0], cy += directions[d][1]) {
                t.rook_line[s][d][length++] = std::uint8_t(square(cx, cy));
                t.ray[s][d] |= bit(square(cx, cy));
            }
            t.rook_line_length[s][d] = std::uint8_t(length);
        }
        t.triangle_place[s] = in_triangle(x, y) ? std::int8_t(place++) : std::int8_t(-1);
        const bool upper = y >= 4, left = x <= 3;
        auto first_step = [&](int& ix, int& iy) {
            if (upper && !left) {
                ix = 7 - ix;
            } else if (!upper && left) {
                iy = 7 - iy;
            } else if (!upper && !left) {
                const int k = ix;
                ix = iy;
                iy = k;
            }
        };
        int kx = x, ky = y;
        first_step(kx, ky);
        const bool reflect = kx < 7 - ky;
        for (Sq o = 0; o < 64; ++o) {
            int ix = file_of(o), iy = rank_of(o);
            first_step(ix, iy);
            if (reflect) {
                const int k = ix;
                ix = 7 - iy;
                iy = 7 - k;
            }
            t.image[s][o] = std::uint8_t(square(ix, iy));
        }
    }
    return t;
}

constexpr FixedArrays fixed = make_fixed_arrays();

// The squares the rook attacks: its lines, less what lies beyond the
// attacking king, the only piece that blocks it. The defending king never
// blocks, so a king in check cannot escape along the checking line; the
// rook's own square is not attacked, so an unprotected rook can be taken.
Bitboard rook_attacks(Sq a, Sq r) {
    Bitboard attacked = fixed.ray[r][0] | fixed.ray[r][1] | fixed.ray[r][2] | fixed.ray[r][3];
    if (file_of(a) == file_of(r))
        attacked &= ~fixed.ray[a][rank_of(a) > rank_of(r) ? 1 : 3];
    else if (rank_of(a) == rank_of(r))
        attacked &= ~fixed.ray[a][file_of(a) > file_of(r) ? 0 : 2];
    return attacked;
}

bool is_defender_attacked(Sq s, Sq a, Sq r) { return ((fixed.king_zone[a] | rook_attacks(a, r)) & bit(s)) != 0; }

// The memo: one entry per canonical key. A depth of -1 marks a key never stored.
struct MemoEntry {
    std::int8_t value;  // 0..117 during a build
    std::int8_t depth;
};
MemoEntry memo[10][2][64][64];
long search_calls = 0;
long keys = 0;

int store(MemoEntry& entry, int value, int depth) {
    keys += entry.depth < 0;
    entry = {std::int8_t(value), std::int8_t(depth)};
    return value;
}

int search(Sq d, Sq a, Sq r, bool attacker_to_move, int depth);
int search_canonical(Sq d, Sq a, Sq r, bool attacker_to_move, int depth);

// A position, in canonical orientation, that the memo cannot answer at this depth.
[[gnu::noinline]] int evaluate(Sq d, Sq a, Sq r, bool attacker_to_move, int depth, MemoEntry& entry) {
    if (r == d) return store(entry, draw_mark, terminal_depth);
    int best;
    if (attacker_to_move) {
        if (depth == 0) return store(entry, draw_mark, 0);
        best = attacker_start;
        // The defending king does not move, so every successor is canonical
        // already. The attacking king keeps off its rook and away from the
        // other king; in king-step order, the lowest square number first.
        const Bitboard near_defender = fixed.king_zone[d] | bit(d);
        for (Bitboard to = fixed.king_zone[a] & ~bit(r) & ~near_defender; to != 0; to &= to - 1) {
            const int v = search_canonical(d, __builtin_ctzll(to), r, false, depth - 1) + 1;
            if (v < best) best = v;
        }
        for (int direction = 0; direction < 4; ++direction)
            for (int i = 0; i < fixed.rook_line_length[r][direction]; ++i) {
                const Sq t = fixed.rook_line[r][direction][i];
                if (t == a) break;
                const int v = search_canonical(d, a, t, false, depth - 1) + 1;
                if (v < best) best = v;
            }
    } else {
        Sq escapes[8];
        int count = 0;
        for (Bitboard to = fixed.king_zone[d] & ~fixed.king_zone[a] & ~rook_attacks(a, r); to != 0; to &= to - 1)
            escapes[count++] = __builtin_ctzll(to);
        if (count == 0) return store(entry, is_defender_attacked(d, a, r) ? checkmate : draw_mark, terminal_depth);
        if (depth == 0) return store(entry, draw_mark, 0);
        best = defender_start;
        for (int i = 0; i < count; ++i) {
            const int v = search(escapes[i], a, r, true, depth - 1) + 1;
            if (v > best) best = v;
        }
    }
    // Nothing is ever inserted, so `entry` still names this key after the
    // successors' searches.
    return store(entry, best, depth);
}

int search_canonical(Sq d, Sq a, Sq r, bool attacker_to_move, int depth) {
    ++search_calls;
    MemoEntry& entry = memo[fixed.triangle_place[d]][attacker_to_move][a][r];
    if (entry.depth >= depth) return entry.value;
    return evaluate(d, a, r, attacker_to_move, depth, entry);
}

int search(Sq d, Sq a, Sq r, bool attacker_to_move, int depth) {
    const std::uint8_t* image = fixed.image[d];
    return search_canonical(image[d], image[a], image[r], attacker_to_move, depth);
}

struct TableEntry {
    Sq d, a, r;
    int value;
};

std::vector<TableEntry> searched(bool attacker_to_move) {
    std::vector<TableEntry> entries;
    for (Sq d = 0; d < 64; ++d) {
        if (fixed.triangle_place[d] < 0) continue;
        for (Sq a = 0; a < 64; ++a)
            for (Sq r = 0; r < 64; ++r) {
                if (a == d || r == a || r == d || (fixed.king_zone[d] & bit(a)) != 0) continue;
                if (attacker_to_move && is_defender_attacked(d, a, r)) continue;
                entries.push_back({d, a, r, search(d, a, r, attacker_to_move, table_depth)});
            }
    }
    return entries;
}

// FNV-1a over every entry's six coordinates and value, defender to move first,
// as korvel's first-build benchmark digests its lists.
std::uint64_t digest(const std::vector<TableEntry>& defender_to_move, const std::vector<TableEntry>& attacker_to_move) {
    std::uint64_t h = 14695981039346656037ull;
    for (const auto* table : {&defender_to_move, &attacker_to_move})
        for (const TableEntry& e : *table)
            for (int n : {file_of(e.d), rank_of(e.d), file_of(e.a), rank_of(e.a), file_of(e.r), rank_of(e.r), e.value}) {
                h ^= std::uint64_t(std::uint32_t(n));
                h *= 1099511628211ull;
            }
    return h;
}

// The CPU time this process has taken, user and system, in milliseconds.
double cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](timeval t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main() {
    const double cpu_at_start = cpu_ms();
    const auto started = std::chrono::steady_clock::now();
    for (auto& by_place : memo)
        for (auto& by_side : by_place)
            for (auto& by_king : by_side)
                for (MemoEntry& entry : by_king) entry = {0, -1};
    const std::vector<TableEntry> attacker_to_move = searched(true);
    const std::vector<TableEntry> defender_to_move = searched(false);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const double build_cpu_ms = cpu_ms() - cpu_at_start;
    std::printf("build_ms=%.1f cpu_ms=%.1f ns_per_call=%.2f calls=%ld keys=%ld digest=%016llx\n", took.count() * 1e3,
                build_cpu_ms,
                took.count() * 1e9 / double(search_calls), search_calls, keys,
                static_cast<unsigned long long>(digest(defender_to_move, attacker_to_move)));
}
