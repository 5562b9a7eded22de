// korvel own stack: the mapping, and the switch to it and back around a task.
#include "own_stack.hpp"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <utility>

#if defined(KORVEL_ADDRESS_SANITIZER)
#include <sanitizer/common_interface_defs.h>
#endif
// Without valgrind's header korvel builds all the same; memcheck then takes the
// switch for a stack overflow of the caller's and may warn about it.
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define KORVEL_VALGRIND 1
#endif

namespace korvel {
namespace {

// What one run hands across the switch: the two contexts, about 2 KiB, and
// the task. It lives in the mapping, above the stack, not on the caller's
// stack, which may be a small thread's or a coroutine's last few KiB.
struct Switch {
    ucontext_t caller;
    ucontext_t task_context;
    void (*erased)(void*);
    void* task;
    std::exception_ptr thrown;
    const void* caller_lowest;  // the caller's stack, as AddressSanitizer knows it
    std::size_t caller_size;
};

// The first frame on the own stack. makecontext passes ints only, so the
// Switch's address comes in two halves.
void start(unsigned high, unsigned low) {
    auto* const s = reinterpret_cast<Switch*>(static_cast<std::uintptr_t>((std::uint64_t{high} << 32) | low));
#if defined(KORVEL_ADDRESS_SANITIZER)
    __sanitizer_finish_switch_fiber(nullptr, &s->caller_lowest, &s->caller_size);
#endif
    try {
        s->erased(s->task);
    } catch (...) {
        s->thrown = std::current_exception();  // holds the thrown object itself: allocates nothing
    }
#if defined(KORVEL_ADDRESS_SANITIZER)
    // Null: this run's frames are done with, and the next run starts afresh.
    __sanitizer_start_switch_fiber(nullptr, s->caller_lowest, s->caller_size);
#endif
    setcontext(&s->caller);
}

}  // namespace

OwnStack::OwnStack(std::size_t bytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t record = (sizeof(Switch) + page - 1) / page * page;
    const std::size_t size = (bytes + page - 1) / page * page;
    if (size < bytes || size > SIZE_MAX - page - record) throw std::bad_alloc();
    const std::size_t mapping_size = page + size + record;
    // Mapped inaccessible first, so that a failure on the way leaves nothing
    // half made; the pages take memory only once touched.
    void* const mapping = mmap(nullptr, mapping_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK,
                               -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    void* const lowest = static_cast<char*>(mapping) + page;
    if (mprotect(lowest, size + record, PROT_READ | PROT_WRITE) != 0) {
        munmap(mapping, mapping_size);
        throw std::bad_alloc();
    }
    mapping_ = mapping;
    mapping_size_ = mapping_size;
    lowest_ = lowest;
    size_ = size;
    switch_record_ = ::new (static_cast<char*>(lowest) + size) Switch{};
#if defined(KORVEL_VALGRIND)
    valgrind_id_ = VALGRIND_STACK_REGISTER(lowest, static_cast<char*>(lowest) + size);
#endif
}

OwnStack::~OwnStack() {
#if defined(KORVEL_VALGRIND)
    VALGRIND_STACK_DEREGISTER(valgrind_id_);
#endif
    static_cast<Switch*>(switch_record_)->~Switch();
    munmap(mapping_, mapping_size_);
}

std::exception_ptr OwnStack::run_erased(Erased erased, void* task) const {
    Switch& s = *static_cast<Switch*>(switch_record_);
    s.erased = erased;
    s.task = task;
    s.thrown = nullptr;
    getcontext(&s.task_context);
    s.task_context.uc_stack.ss_sp = lowest_;
    s.task_context.uc_stack.ss_size = size_;
    s.task_context.uc_link = nullptr;  // start never returns: it switches back itself
    const std::uint64_t address = reinterpret_cast<std::uintptr_t>(&s);
    makecontext(&s.task_context, reinterpret_cast<void (*)()>(start), 2, static_cast<unsigned>(address >> 32),
                static_cast<unsigned>(address));
#if defined(KORVEL_ADDRESS_SANITIZER)
    void* caller_fake_stack = nullptr;
    __sanitizer_start_switch_fiber(&caller_fake_stack, lowest_, size_);
#endif
    swapcontext(&s.caller, &s.task_context);
#if defined(KORVEL_ADDRESS_SANITIZER)
    __sanitizer_finish_switch_fiber(caller_fake_stack, nullptr, nullptr);
#endif
    return std::exchange(s.thrown, nullptr);
}

#if defined(KORVEL_ADDRESS_SANITIZER)
namespace {
// AddressSanitizer warns at the first context switch of a process that it does
// not follow every switch, and its report takes more stack than a small thread
// may have left. A switch to an empty task as the library loads, on the thread
// that loads it, has it warn there instead.
[[maybe_unused]] const bool sanitizer_warned_at_load = [] {
    try {
        OwnStack(64 * 1024).run([] {});
    } catch (...) {  // no memory for it: the warning comes at the first build
    }
    return true;
}();
}  // namespace
#endif

}  // namespace korvel
