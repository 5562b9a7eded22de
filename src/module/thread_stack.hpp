// korvel module glue: how much of the calling thread's stack is left, so that a
// build too deep for it is refused instead of overflowing the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace korvel::module {

// The bytes of the calling thread's stack below the caller's frame, where the
// platform tells: the thread's own stack bounds, as the C library records
// them for every thread, the main thread's from its stack size limit.
[[gnu::noinline]] inline std::optional<std::size_t> thread_stack_left() {
#if defined(__linux__)
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return std::nullopt;
    void* lowest = nullptr;
    std::size_t size = 0;
    const bool known = pthread_attr_getstack(&attributes, &lowest, &size) == 0;
    pthread_attr_destroy(&attributes);
    if (!known) return std::nullopt;
    // The stack grows down, towards `lowest`. A frame outside the bounds is on
    // a stack the C library does not know (a coroutine's, say).
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const auto bottom = reinterpret_cast<std::uintptr_t>(lowest);
    if (here < bottom || here - bottom > size) return std::nullopt;
    return here - bottom;
#else
    return std::nullopt;
#endif
}

}  // namespace korvel::module
