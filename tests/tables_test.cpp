// Tests of the table positions, their order, and the build that gives their values.
#include "solver/tables.hpp"

#include <algorithm>
#include <map>
#include <new>
#include <set>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "memo_fixture.hpp"
#include "printers.hpp"
#include "solver/orientation.hpp"

namespace korvel {
namespace {

using tables_test = fresh_solver;
using Histogram = std::map<int, int>;

bool contains(const std::vector<Position>& positions, const Position& p) {
    return std::find(positions.begin(), positions.end(), p) != positions.end();
}

Histogram histogram(const std::vector<TableEntry>& table) {
    Histogram counts;
    for (const TableEntry& e : table) ++counts[e.value];
    return counts;
}

const Histogram attacker_histogram{
    {1, 273},    {3, 718},    {5, 555},    {7, 346},    {9, 842},    {11, 1391},  {13, 1771},  {15, 2614},
    {17, 2851},  {19, 2950},  {21, 2996},  {23, 3135},  {25, 3004},  {27, 2714},  {29, 1005},  {31, 187},
};

const Histogram defender_histogram{
    {0, 39},     {2, 113},    {4, 327},    {6, 116},    {8, 282},    {10, 652},   {12, 793},
    {14, 897},   {16, 1721},  {18, 2091},  {20, 2482},  {22, 3394},  {24, 4225},  {26, 5148},
    {28, 5728},  {30, 2931},  {32, 534},   {100, 17},   {101, 3478},
};

// Positions per defending king square: (square, defender to move, attacker to move).
const std::tuple<Square, int, int> counts_by_defending_king[] = {
    {{0, 7}, 3720, 2922}, {{1, 6}, 3410, 2670}, {{1, 7}, 3596, 2820}, {{2, 5}, 3410, 2662},
    {{2, 6}, 3410, 2666}, {{2, 7}, 3596, 2816}, {{3, 4}, 3410, 2658}, {{3, 5}, 3410, 2660},
    {{3, 6}, 3410, 2664}, {{3, 7}, 3596, 2814},
};

void expect_first_build(const std::vector<TableEntry>& attacker, const std::vector<TableEntry>& defender) {
    ASSERT_EQ(attacker.size(), 27'352u);
    ASSERT_EQ(defender.size(), 34'968u);
    EXPECT_EQ(attacker.front().position, (Position{{0, 7}, {0, 0}, {1, 0}}));
    EXPECT_EQ(attacker.front().value, 13);
    EXPECT_EQ(defender.front().position, (Position{{0, 7}, {0, 0}, {0, 1}}));
    EXPECT_EQ(defender.front().value, 20);
    EXPECT_EQ(attacker.back().position, (Position{{3, 7}, {7, 7}, {7, 6}}));
    EXPECT_EQ(attacker.back().value, 15);
    EXPECT_EQ(defender.back().position, (Position{{3, 7}, {7, 7}, {7, 6}}));
    EXPECT_EQ(defender.back().value, 14);
    EXPECT_EQ(histogram(attacker), attacker_histogram);
    EXPECT_EQ(histogram(defender), defender_histogram);
}

TEST(enumeration_test, counts_first_and_last_positions) {
    const std::vector<Position> defender = enumerate_defender_positions();
    const std::vector<Position> attacker = enumerate_attacker_positions();
    ASSERT_EQ(defender.size(), defender_position_count);
    ASSERT_EQ(attacker.size(), attacker_position_count);
    EXPECT_EQ(defender[0], (Position{{0, 7}, {0, 0}, {0, 1}}));
    EXPECT_EQ(defender[1], (Position{{0, 7}, {0, 0}, {0, 2}}));
    EXPECT_EQ(defender[2], (Position{{0, 7}, {0, 0}, {0, 3}}));
    EXPECT_EQ(defender.back(), (Position{{3, 7}, {7, 7}, {7, 6}}));
    // Rook squares (0, 1) to (0, 6) check the king on (0, 7) along column 0.
    EXPECT_EQ(attacker[0], (Position{{0, 7}, {0, 0}, {1, 0}}));
    EXPECT_EQ(attacker[1], (Position{{0, 7}, {0, 0}, {1, 1}}));
    EXPECT_EQ(attacker[2], (Position{{0, 7}, {0, 0}, {1, 2}}));
    EXPECT_EQ(attacker.back(), (Position{{3, 7}, {7, 7}, {7, 6}}));
}

TEST(enumeration_test, counts_by_defending_king_square_in_board_order) {
    const std::vector<Position> defender = enumerate_defender_positions();
    const std::vector<Position> attacker = enumerate_attacker_positions();
    auto begin_d = defender.begin();
    auto begin_a = attacker.begin();
    for (const auto& [square, defender_count, attacker_count] : counts_by_defending_king) {
        const auto on_square = [wanted = square](const Position& p) { return p.defending_king == wanted; };
        const auto end_d = std::find_if_not(begin_d, defender.end(), on_square);
        const auto end_a = std::find_if_not(begin_a, attacker.end(), on_square);
        EXPECT_EQ(end_d - begin_d, defender_count) << square;
        EXPECT_EQ(end_a - begin_a, attacker_count) << square;
        begin_d = end_d;
        begin_a = end_a;
    }
    EXPECT_EQ(begin_d, defender.end());
    EXPECT_EQ(begin_a, attacker.end());
}

TEST(enumeration_test, attacking_king_as_a_shield_on_the_rooks_line) {
    const std::vector<Position> defender = enumerate_defender_positions();
    const std::vector<Position> attacker = enumerate_attacker_positions();
    for (const Position shielded : {Position{{0, 7}, {0, 2}, {0, 1}}, Position{{0, 7}, {0, 5}, {0, 3}}}) {
        EXPECT_TRUE(contains(defender, shielded)) << shielded;
        EXPECT_TRUE(contains(attacker, shielded)) << shielded;
    }
    for (const Position check : {Position{{0, 7}, {0, 1}, {0, 2}}, Position{{0, 7}, {1, 3}, {0, 1}}}) {
        EXPECT_TRUE(contains(defender, check)) << check;
        EXPECT_FALSE(contains(attacker, check)) << check;
    }
}

TEST(enumeration_test, every_position_is_legal_canonical_and_listed_once) {
    const std::vector<Position> defender = enumerate_defender_positions();
    const std::vector<Position> attacker = enumerate_attacker_positions();
    for (const Position& p : defender) {
        ASSERT_TRUE(p.defending_king != p.attacking_king && p.rook != p.attacking_king && p.rook != p.defending_king)
            << p;
        ASSERT_GT(king_distance(p.defending_king, p.attacking_king), 1) << p;
        ASSERT_TRUE(in_canonical_triangle(p.defending_king)) << p;
        ASSERT_TRUE(in_canonical_region(p)) << p;
    }
    for (const Position& p : attacker) ASSERT_FALSE(is_defender_attacked(p.defending_king, p.attacking_king, p.rook)) << p;

    const auto key = [](const Position& p) {
        return std::tuple(p.defending_king.x, p.defending_king.y, p.attacking_king.x, p.attacking_king.y, p.rook.x,
                          p.rook.y);
    };
    std::set<decltype(key(defender[0]))> seen;
    for (const Position& p : defender) seen.insert(key(p));
    EXPECT_EQ(seen.size(), defender.size());
    // Board order makes the lists sorted by these coordinates.
    EXPECT_TRUE(std::is_sorted(defender.begin(), defender.end(),
                               [&](const Position& a, const Position& b) { return key(a) < key(b); }));

    EXPECT_FALSE(in_canonical_region({{0, 7}, {1, 6}, {5, 5}}));  // kings adjacent
    EXPECT_FALSE(in_canonical_region({{0, 6}, {5, 5}, {7, 7}}));  // king off the triangle
}

// Positions whose defending king stands on x + y = 7 are kept beside their mirror image.
TEST(enumeration_test, mirror_in_the_anti_diagonal_is_not_reduced) {
    const std::vector<Position> defender = enumerate_defender_positions();
    const auto mirror = [](Square s) { return Square{7 - s.y, 7 - s.x}; };
    int on_line = 0;
    int own_mirror = 0;
    for (const Position& p : defender) {
        if (p.defending_king.x + p.defending_king.y != 7) continue;
        ++on_line;
        const Position m{mirror(p.defending_king), mirror(p.attacking_king), mirror(p.rook)};
        if (m == p) ++own_mirror;
        EXPECT_TRUE(std::binary_search(defender.begin(), defender.end(), m, [](const Position& a, const Position& b) {
            return std::tie(a.defending_king.x, a.defending_king.y, a.attacking_king.x, a.attacking_king.y, a.rook.x,
                            a.rook.y) < std::tie(b.defending_king.x, b.defending_king.y, b.attacking_king.x,
                                                 b.attacking_king.y, b.rook.x, b.rook.y);
        })) << p;
    }
    EXPECT_EQ(on_line, 13'950);
    EXPECT_EQ(own_mirror, 126);
}

TEST_F(tables_test, first_build_gives_the_known_figures) {
    EXPECT_FALSE(tables_built());
    build_tables();
    EXPECT_TRUE(tables_built());
    expect_first_build(attacker_to_move_table, defender_to_move_table);

    EXPECT_EQ(instruments::calls, 11'279'100u);
    EXPECT_EQ(instruments::least_value, 0);
    EXPECT_EQ(instruments::greatest_value, 117);

    ASSERT_EQ(value_table.size(), 62'882u);
    ASSERT_EQ(depth_table.size(), 62'882u);
    EXPECT_EQ(detail::node_arena.nodes_in_use(), 2 * 62'882u);  // every memo node from the arena
    int terminal = 0;
    for (const auto& [key, depth] : depth_table) {
        ASSERT_TRUE(value_table.count(key));
        ASSERT_TRUE(depth == terminal_depth || depth == table_search_depth) << key.position() << " depth " << depth;
        terminal += depth == terminal_depth;
    }
    EXPECT_EQ(terminal, 618);
}

TEST_F(tables_test, a_second_build_keeps_one_set_and_searches_nothing) {
    build_tables();
    const std::vector<TableEntry> attacker = attacker_to_move_table;
    const std::vector<TableEntry> defender = defender_to_move_table;
    instruments::reset();
    build_tables();
    EXPECT_EQ(instruments::calls, 0u);
    expect_first_build(attacker_to_move_table, defender_to_move_table);
    ASSERT_EQ(attacker_to_move_table.size(), attacker.size());
    ASSERT_EQ(defender_to_move_table.size(), defender.size());
    for (std::size_t i = 0; i < attacker.size(); ++i) {
        ASSERT_EQ(attacker_to_move_table[i].position, attacker[i].position);
        ASSERT_EQ(attacker_to_move_table[i].value, attacker[i].value);
    }
    for (std::size_t i = 0; i < defender.size(); ++i) {
        ASSERT_EQ(defender_to_move_table[i].position, defender[i].position);
        ASSERT_EQ(defender_to_move_table[i].value, defender[i].value);
    }
}

void expect_one_key_set() {
    ASSERT_EQ(value_table.size(), depth_table.size());
    for (const auto& entry : value_table) ASSERT_TRUE(depth_table.count(entry.first)) << entry.first.position();
}

void expect_clean_failure() {
    EXPECT_THROW(build_tables(), std::bad_alloc);
    EXPECT_FALSE(tables_built());
    EXPECT_TRUE(attacker_to_move_table.empty());
    EXPECT_TRUE(defender_to_move_table.empty());
    expect_one_key_set();
}

// Memory running out during the attacker searches, during the defender
// searches (when the attacker entries are complete and must go too), or
// between a new key's two inserts leaves both tables empty and the memo tables
// on one set of keys; the next build gives the exact tables.
TEST_F(tables_test, a_failed_build_leaves_nothing_half_done) {
    for (const std::uint64_t node : {2u, 2'000u}) {  // a new key's entry in the depth table
        instruments::reset();
        instruments::fail_at_node = node;
        const std::size_t keys = value_table.size();
        expect_clean_failure();
        EXPECT_EQ(value_table.size(), keys + node / 2 - 1);
    }

    instruments::reset();
    instruments::fail_at_call = 5'000'000;  // inside the first attacker search
    expect_clean_failure();
    EXPECT_EQ(instruments::root_calls, 0u);

    instruments::reset();
    instruments::fail_at_root_call = attacker_position_count + 1'000;
    expect_clean_failure();
    EXPECT_GE(stored_depth({{3, 7}, {7, 7}, {7, 6}}, true), table_search_depth);  // the last attacker search

    instruments::reset();
    build_tables();
    expect_first_build(attacker_to_move_table, defender_to_move_table);
    expect_one_key_set();
    EXPECT_EQ(value_table.size(), 62'882u);
}

}  // namespace
}  // namespace korvel
