// A fixture that starts every test from empty memo tables and result lists, so
// that tests do not depend on running one to a process.
#pragma once

#include <gtest/gtest.h>

#include "solver/memo.hpp"
#include "solver/instruments.hpp"
#include "solver/tables.hpp"

namespace korvel {

class fresh_solver : public ::testing::Test {
protected:
    void SetUp() override {
        value_table.clear();
        depth_table.clear();
        attacker_to_move_table.clear();
        defender_to_move_table.clear();
        instruments::reset();
    }
    void TearDown() override { instruments::reset(); }

    static int stored_value(const Position& p, bool attacker_to_move) {
        return value_table.at(MemoKey{p, attacker_to_move});
    }
    static int stored_depth(const Position& p, bool attacker_to_move) {
        return depth_table.at(MemoKey{p, attacker_to_move});
    }
};

}  // namespace korvel
