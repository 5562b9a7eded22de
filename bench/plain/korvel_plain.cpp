// The plain baseline that bench/compare measures korvel against: the same
// solver and the same Python module `korvel`, written the ordinary way. Squares
// are pairs of ints, positions and memo keys heap vectors of them, move lists
// vectors; the memo tables are default-sized boost::unordered_maps, and a memo
// hit reads the depth and then the value with a second lookup; pybind11's STL
// conversion makes the Python lists. It must return exactly korvel's lists.
// Built on its own (bench/plain/CMakeLists.txt), never installed.
#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include <boost/container_hash/hash.hpp>
#include <boost/unordered_map.hpp>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace {

using Square = std::pair<int, int>;        // (x, y): column, row
using Position = std::vector<Square>;      // defending king, attacking king, rook
using MemoKey = std::pair<Position, bool>; // canonical position, attacker to move
using TableEntry = std::pair<Position, int>;

struct AttackerMoves {
    std::vector<Square> king_moves;
    std::vector<Square> rook_moves;
};

constexpr int board_size = 8;
constexpr int table_depth = 32;

constexpr int mate = 0;
constexpr int draw_mark = 100;
constexpr int terminal_depth = 100;  // above any depth asked for: a terminal key is final
constexpr int attacker_start = 200;
constexpr int defender_start = -100;

// dx outer, dy inner; (0, 0) is the king's own square and is skipped.
constexpr int king_steps[9][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 0},
                                  {0, 1},   {1, -1}, {1, 0},  {1, 1}};
constexpr int rook_directions[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};

bool on_board(Square s) {
    return s.first >= 0 && s.first < board_size && s.second >= 0 && s.second < board_size;
}

int king_distance(Square a, Square b) {
    return std::max(std::abs(a.first - b.first), std::abs(a.second - b.second));
}

// Whether the rook attacks s along its row or column. Only the attacking king
// can block it; a rook standing on s itself attacks nothing there, since the
// defending king would be taking it.
bool rook_attacks(Square s, Square king, Square rook) {
    const bool same_column = s.first == rook.first;
    const bool same_row = s.second == rook.second;
    if (same_column == same_row) return false;
    if (same_column)
        return !(king.first == rook.first && (king.second - rook.second) * (s.second - king.second) > 0);
    return !(king.second == rook.second && (king.first - rook.first) * (s.first - king.first) > 0);
}

bool is_defender_attacked(Square s, Square king, Square rook) {
    if (king_distance(s, king) == 1) return true;
    return rook_attacks(s, king, rook);
}

// The defending king's current square never blocks the rook, so a king in
// check along a line cannot escape by stepping further along it.
std::vector<Square> defender_moves(Square defender, Square king, Square rook) {
    std::vector<Square> moves;
    for (const auto& step : king_steps) {
        const Square t{defender.first + step[0], defender.second + step[1]};
        if (!on_board(t) || t == defender) continue;
        if (king_distance(t, king) == 1) continue;
        if (rook_attacks(t, king, rook)) continue;
        moves.push_back(t);
    }
    return moves;
}

// Nothing attacks the attacking king, so only the board, its own rook and the
// other king limit it. Each rook line runs until the edge or the king.
AttackerMoves attacker_moves(Square defender, Square king, Square rook) {
    AttackerMoves moves;
    for (const auto& step : king_steps) {
        const Square t{king.first + step[0], king.second + step[1]};
        if (!on_board(t) || t == king || t == rook) continue;
        if (king_distance(t, defender) <= 1) continue;
        moves.king_moves.push_back(t);
    }
    for (const auto& direction : rook_directions) {
        for (Square t{rook.first + direction[0], rook.second + direction[1]}; on_board(t) && t != king;
             t = Square{t.first + direction[0], t.second + direction[1]})
            moves.rook_moves.push_back(t);
    }
    return moves;
}

// Brings the defending king into the triangle x <= 3, y >= 4, x + y >= 7: first
// into the upper-left quarter, then across the diagonal x + y = 7 if it lies
// below it. Positions that are mirror images in that diagonal, with the king on
// it, stay apart.
Position canonical_position(Square defender, Square king, Square rook) {
    Position p{defender, king, rook};
    const int x0 = defender.first;
    const int y0 = defender.second;
    for (Square& s : p) {
        if (y0 >= 4 && x0 >= 4)
            s = {7 - s.first, s.second};
        else if (y0 <= 3 && x0 <= 3)
            s = {s.first, 7 - s.second};
        else if (y0 <= 3 && x0 >= 4)
            s = {s.second, s.first};
    }
    if (p[0].first < 7 - p[0].second) {
        for (Square& s : p) s = {7 - s.second, 7 - s.first};
    }
    return p;
}

// Process-wide memo: the value found for a key, and the depth it was searched to.
boost::unordered_map<MemoKey, int> value_table;
boost::unordered_map<MemoKey, int> depth_table;

int store(const MemoKey& key, int value, int depth) {
    value_table[key] = value;
    depth_table[key] = depth;
    return value;
}

// Minimax over plies, from the attacking side's point of view: it takes the
// smallest successor value, the defending king the largest, and each ply adds
// one. A key is searched again only when asked for more depth than it holds.
int search(Square defender, Square king, Square rook, bool attacker_to_move, int depth) {
    const Position p = canonical_position(defender, king, rook);
    const Square d = p[0];
    const Square a = p[1];
    const Square r = p[2];
    const MemoKey key{p, attacker_to_move};

    const auto known = depth_table.find(key);
    if (known != depth_table.end() && known->second >= depth) return value_table.at(key);

    if (r == d) return store(key, draw_mark, terminal_depth);  // the rook is gone: a draw

    std::vector<Square> escapes;
    if (!attacker_to_move) {
        escapes = defender_moves(d, a, r);
        if (escapes.empty()) {
            const int v = is_defender_attacked(d, a, r) ? mate : draw_mark;  // else stalemate
            return store(key, v, terminal_depth);
        }
    }

    if (depth == 0) return store(key, draw_mark, 0);

    int best;
    if (attacker_to_move) {
        best = attacker_start;
        const AttackerMoves moves = attacker_moves(d, a, r);
        for (const Square& t : moves.king_moves)
            best = std::min(best, search(d, t, r, false, depth - 1) + 1);
        for (const Square& t : moves.rook_moves)
            best = std::min(best, search(d, a, t, false, depth - 1) + 1);
    } else {
        best = defender_start;
        for (const Square& t : escapes) best = std::max(best, search(t, a, r, true, depth - 1) + 1);
    }
    return store(key, best, depth);
}

bool in_triangle(Square s) { return s.second > 3 && s.first < 4 && s.first >= 7 - s.second; }

bool in_canonical_region(const Position& p) { return king_distance(p[0], p[1]) > 1 && in_triangle(p[0]); }

std::vector<Square> board_squares() {
    std::vector<Square> squares;
    for (int x = 0; x < board_size; ++x)
        for (int y = 0; y < board_size; ++y) squares.push_back({x, y});
    return squares;
}

std::vector<Position> enumerate_defender_positions() {
    const std::vector<Square> squares = board_squares();
    std::vector<Position> candidates;
    for (const Square& d : squares) {
        if (!in_triangle(d)) continue;
        for (const Square& a : squares)
            for (const Square& r : squares) {
                if (a == d || r == a || r == d) continue;
                candidates.push_back({d, a, r});
            }
    }
    std::vector<Position> positions;
    for (const Position& p : candidates)
        if (in_canonical_region(p)) positions.push_back(p);
    return positions;
}

// With the attacking side to move, the defending king must not be in check.
std::vector<Position> enumerate_attacker_positions() {
    std::vector<Position> positions;
    for (const Position& p : enumerate_defender_positions())
        if (!is_defender_attacked(p[0], p[1], p[2])) positions.push_back(p);
    return positions;
}

std::vector<TableEntry> attacker_to_move_table;
std::vector<TableEntry> defender_to_move_table;

std::vector<TableEntry> searched(const std::vector<Position>& positions, bool attacker_to_move) {
    std::vector<TableEntry> entries;
    for (const Position& p : positions)
        entries.push_back({p, search(p[0], p[1], p[2], attacker_to_move, table_depth)});
    return entries;
}

// Once built, the tables are final; a later call hands out the same set again.
// The entries take their place only when both sides are complete, so a build
// that runs out of memory leaves nothing half done for a later call to return.
void build_tables() {
    if (!defender_to_move_table.empty()) return;
    std::vector<TableEntry> attacker_entries = searched(enumerate_attacker_positions(), true);
    std::vector<TableEntry> defender_entries = searched(enumerate_defender_positions(), false);
    attacker_to_move_table = std::move(attacker_entries);
    defender_to_move_table = std::move(defender_entries);
}

std::pair<std::vector<TableEntry>, std::vector<TableEntry>> get_lists() {
    build_tables();
    return {defender_to_move_table, attacker_to_move_table};
}

}  // namespace

PYBIND11_MODULE(korvel, m) {
    m.def("get_lists", &get_lists, R"pbdoc(
        get the lists containing the korvels.
    )pbdoc");
    m.attr("__version__") = "dev";
}
