// korvel own stack: a stack of korvel's own, on which the calling thread runs a call's work, a
// table build above all, so that it needs next to nothing of the caller's stack, however small.
#pragma once

#include <cstddef>
#include <exception>
#include <type_traits>

// Defined where AddressSanitizer instruments the build: it must be told of each
// switch between stacks, and its frames are larger.
#if defined(__SANITIZE_ADDRESS__)  // GCC's word for AddressSanitizer
#define KORVEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)  // Clang's
#if __has_feature(address_sanitizer)
#define KORVEL_ADDRESS_SANITIZER 1
#endif
#endif

namespace korvel {

// The stack a call's work runs on: a build's 33 levels of search take under a
// tenth of it, even under AddressSanitizer, whose frames carry guard zones; the
// rest is room for signal handlers. Only the pages a build touches take memory.
inline constexpr std::size_t own_stack_bytes = 256 * 1024;

class OwnStack {
public:
    // Maps the stack, with a guard page below it that stops an overflow and
    // above it the record of the switches there and back, so that a switch
    // takes nothing of the caller's stack but its own call; throws
    // std::bad_alloc, having mapped nothing, if it cannot.
    explicit OwnStack(std::size_t bytes = own_stack_bytes);
    ~OwnStack();
    OwnStack(const OwnStack&) = delete;
    OwnStack& operator=(const OwnStack&) = delete;

    // Runs task() on this stack, on the calling thread, and returns on the
    // caller's. What task throws is caught on this stack and rethrown here:
    // an exception never unwinds across the switch. One task at a time.
    template <class Task>
    void run(Task&& task) const;

    // The stack's lowest usable byte and its size, for tests.
    void* lowest() const { return lowest_; }
    std::size_t size() const { return size_; }

private:
    using Erased = void (*)(void*);
    // Switches to this stack, calls erased(task) there, and switches back;
    // returns what the call threw, if anything.
    std::exception_ptr run_erased(Erased erased, void* task) const;

    void* mapping_ = nullptr;  // the guard page, the stack, then the switch record
    std::size_t mapping_size_ = 0;
    void* lowest_ = nullptr;
    std::size_t size_ = 0;
    void* switch_record_ = nullptr;
    [[maybe_unused]] unsigned valgrind_id_ = 0;  // unused where valgrind's header is missing
};

// ---- Definitions ------------------------------------------------------------
template <class Task>
void OwnStack::run(Task&& task) const {
    using Held = std::remove_reference_t<Task>;
    const std::exception_ptr thrown = run_erased([](void* held) { (*static_cast<Held*>(held))(); },
                                                 const_cast<void*>(static_cast<const void*>(&task)));
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace korvel
