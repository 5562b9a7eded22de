// The stack of korvel's own that a table build runs on: the build fits it with room to spare, a
// task's exception reaches the caller, and an overflow meets a guard page.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>

#include <ucontext.h>

#include <gtest/gtest.h>

#include "module/own_stack.hpp"
#include "solver/tables.hpp"

namespace korvel {
namespace {

TEST(stack_test, a_first_build_takes_a_fraction_of_its_own_stack) {
    const OwnStack stack;
    constexpr unsigned char untouched = 0xA5;
    auto* const lowest = static_cast<unsigned char*>(stack.lowest());
    std::memset(lowest, untouched, stack.size());
    stack.run([] { build_tables(); });
    ASSERT_TRUE(tables_built());
    std::size_t deepest = 0;  // the stack grows down, from its highest byte
    while (deepest < stack.size() && lowest[deepest] == untouched) ++deepest;
    const std::size_t used = stack.size() - deepest;
    // The rest is for signal handlers.
    EXPECT_LE(used * 4, own_stack_bytes) << used << " bytes";
    EXPECT_GT(used, 4u * 1024) << "the build ran elsewhere";
}

TEST(stack_test, a_task_runs_on_the_own_stack_and_its_exception_is_rethrown_on_the_callers) {
    const OwnStack stack(64 * 1024);
    const auto lowest = reinterpret_cast<std::uintptr_t>(stack.lowest());
    std::uintptr_t frame = 0;
    for (int round = 0; round < 2; ++round) {  // the stack serves again after a task that threw
        EXPECT_THROW(stack.run([] { throw std::bad_alloc(); }), std::bad_alloc);
        try {
            stack.run([] { throw std::runtime_error("rook taken"); });
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "rook taken");
        }
        stack.run([&frame] { frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); });
        EXPECT_GT(frame, lowest);
        EXPECT_LT(frame, lowest + stack.size());
    }
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    EXPECT_FALSE(here > lowest && here < lowest + stack.size());
}

// A task run from a coroutine's small stack, as a first call from one is: the
// switch and its record take next to nothing of it, the build none.
// AddressSanitizer's runtime (GCC 14's, not GCC 12's) intercepts makecontext
// and passes its arguments on through 64 slots, copied and pushed: 1.1 KiB
// more of the caller's stack, which a build without the sanitizer never spends.
#if defined(KORVEL_ADDRESS_SANITIZER)
constexpr std::size_t sanitizer_makecontext_bytes = 1536;
#else
constexpr std::size_t sanitizer_makecontext_bytes = 0;
#endif
TEST(stack_test, a_switch_takes_under_a_kibibyte_of_the_callers_stack) {
    const OwnStack stack(64 * 1024);
    constexpr unsigned char untouched = 0xA5;
    static unsigned char small[16 * 1024];
    std::memset(small, untouched, sizeof small);
    static ucontext_t caller, coroutine;
    static const OwnStack* own;
    own = &stack;
    ASSERT_EQ(getcontext(&coroutine), 0);
    coroutine.uc_stack.ss_sp = small;
    coroutine.uc_stack.ss_size = sizeof small;
    coroutine.uc_link = &caller;
    makecontext(&coroutine, [] { own->run([] { build_tables(); }); }, 0);
    ASSERT_EQ(swapcontext(&caller, &coroutine), 0);
    ASSERT_TRUE(tables_built());
    std::size_t deepest = 0;
    while (deepest < sizeof small && small[deepest] == untouched) ++deepest;
    const std::size_t used = sizeof small - deepest;
    EXPECT_LE(used, 1024u + sanitizer_makecontext_bytes) << used << " bytes";
    EXPECT_GT(used, 0u);
}

TEST(stack_test, below_the_stack_lies_a_guard_page_and_a_mapping_that_cannot_be_had_throws) {
    const OwnStack stack(64 * 1024);
    std::ifstream maps("/proc/self/maps");
    std::string range, permissions, rest, guard;
    while (maps >> range >> permissions && std::getline(maps, rest)) {
        if (std::stoull(range.substr(range.find('-') + 1), nullptr, 16) == reinterpret_cast<std::uintptr_t>(stack.lowest()))
            guard = permissions;
    }
    EXPECT_EQ(guard, "---p");
    EXPECT_THROW(OwnStack(std::size_t{1} << 62), std::bad_alloc);
    EXPECT_THROW(OwnStack(SIZE_MAX), std::bad_alloc);
}

}  // namespace
}  // namespace korvel
