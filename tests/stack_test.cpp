// The stack a table build takes, measured in the library as it ships: the
// tests of the build itself link a probed one, whose frames differ.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "solver/tables.hpp"

namespace korvel {
namespace {

// Runs a first build on a thread whose stack is filled with a pattern
// beforehand, and returns how deep the build wrote into it.
std::size_t first_build_stack_depth() {
    constexpr std::size_t stack_size = 1 << 20;
    constexpr std::uint8_t untouched = 0xA5;
    std::vector<std::uint8_t> stack(stack_size, untouched);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack.data(), stack.size());
    pthread_t thread;
    const auto build = [](void*) -> void* {
        build_tables();
        return nullptr;
    };
    EXPECT_EQ(pthread_create(&thread, &attributes, build, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    std::size_t deepest = 0;  // the stack grows down, from the end of the vector
    while (deepest < stack.size() && stack[deepest] == untouched) ++deepest;
    return stack.size() - deepest;
}

TEST(stack_test, a_first_build_takes_no_more_stack_than_callers_are_told) {
    const std::size_t used = first_build_stack_depth();
    ASSERT_EQ(defender_to_move_table.size(), defender_position_count);
    EXPECT_LE(used, build_stack_bytes) << used << " bytes";
    // And the figure stays near the truth, so that small threads are not refused for nothing.
    EXPECT_GE(used + 8 * 1024, build_stack_bytes) << used << " bytes";
}

}  // namespace
}  // namespace korvel
