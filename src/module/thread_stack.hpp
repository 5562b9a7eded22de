// korvel module glue: the first call's stack check. How much of the calling
// thread's stack is left, found without opening a file, and the RecursionError
// that refuses a table build too deep for it instead of overflowing the stack.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "pending_python_error.hpp"
#include "pybind11_headers.hpp"
#include "solver/tables.hpp"

#if defined(__linux__)
#include <inttypes.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace korvel::module {

// ---- Contents -------------------------------------------------------------
// Finds where the main thread's stack begins: call at import, when files can
// still be opened (in most processes it needs none). Cannot fail; where the
// stack is not found, the main thread is asked about as any other thread.
void find_main_stack();

// The bytes of the calling thread's stack below the caller's frame, where the
// platform tells:
// - on the main thread's own stack, from its top down to the current soft
//   RLIMIT_STACK (read anew by each call, so a limit lowered after the stack
//   has grown is respected; a frame already below it has 0 bytes left); no
//   file is opened;
// - on another thread, from the bounds the C library recorded when it made
//   the thread, which it gives without opening a file;
// - nothing (unknown) on a stack the C library does not know, such as a
//   coroutine's made with makecontext: the caller is then not checked.
std::optional<std::size_t> thread_stack_left();

// Raises RecursionError (and throws pending_python_error) if the calling thread
// is known to have less stack left than a table build takes.
void require_stack_for_build();

// ---- Definitions ------------------------------------------------------------
namespace detail {

#if defined(__linux__)
// Where the main thread's stack begins: the end of the mapping the kernel made
// for it, from which it grows down. 0 while not found.
inline std::uintptr_t main_stack_top = 0;

// How far below its top a frame counts as on the main thread's stack, and the
// most of that stack counted as usable. Linux leaves room below the stack's
// top before any other mapping: the stack limit the process started with, a
// guard gap, and random gaps that come to gigabytes in all but about one
// process in a million (without address randomisation, 128 MiB at least). So
// a frame less than 128 MiB below the top is on the main stack, and a deeper
// one is taken for one on a stack of the program's own making; with a limit
// above 128 MiB, or none, korvel counts 128 MiB.
inline constexpr std::uintptr_t main_stack_reach = std::uintptr_t{128} << 20;

inline std::uintptr_t page_size() { return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)); }

// Linux writes the program's file name at the very top of the main thread's
// stack, followed only by a null pointer, and hands its address to the program
// as AT_EXECFN: the stack's top is the page boundary right after them. (No
// memory is read beyond the name itself.)
inline std::uintptr_t top_after_file_name() {
    const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (name == nullptr) return 0;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(name) + std::strlen(name) + 1 + sizeof(void*);
    return end % page_size() == 0 ? end : 0;
}

// A program the dynamic loader started itself (`ld.so python3.9 ...`) has
// AT_EXECFN pointing at its name among the arguments, lower on the same stack:
// the top is then the end of the mapping that holds that name, as
// /proc/self/maps lists it (the C library finds it so too, at every call).
inline std::uintptr_t end_of_mapping_holding(std::uintptr_t address) {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr) return 0;
    std::uintptr_t start = 0, end = 0, found = 0;
    while (found == 0 && std::fscanf(maps, "%" SCNxPTR "-%" SCNxPTR "%*[^\n]", &start, &end) == 2)
        if (start <= address && address < end) found = end;
    std::fclose(maps);
    return found;
}

inline std::optional<std::size_t> left_on_main_stack(std::uintptr_t here) {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0) return std::nullopt;
    // The kernel grows the stack while it stays within the limit in whole
    // pages (RLIM_INFINITY, the largest value, gives the reach).
    std::uintptr_t usable = std::min<std::uintptr_t>(limit.rlim_cur, main_stack_reach);
    usable -= usable % page_size();
    const std::uintptr_t bottom = main_stack_top - usable;
    return here > bottom ? here - bottom : 0;
}

// Any other thread: glibc keeps each thread's bounds in memory, except the main
// thread's, which it reads from /proc/self/maps; so the main thread comes here
// only on a stack of its own making, or where its stack was not found.
inline std::optional<std::size_t> left_in_thread_bounds(std::uintptr_t here) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return std::nullopt;
    void* lowest = nullptr;
    std::size_t size = 0;
    const bool known = pthread_attr_getstack(&attributes, &lowest, &size) == 0;
    pthread_attr_destroy(&attributes);
    if (!known) return std::nullopt;
    // A frame outside the bounds is on a stack the C library does not know.
    const auto bottom = reinterpret_cast<std::uintptr_t>(lowest);
    if (here < bottom || here - bottom > size) return std::nullopt;
    return here - bottom;
}
#endif

}  // namespace detail

inline void find_main_stack() {
#if defined(__linux__)
    if (detail::main_stack_top != 0) return;
    std::uintptr_t top = detail::top_after_file_name();
    if (top == 0 && getauxval(AT_EXECFN) != 0) top = detail::end_of_mapping_holding(getauxval(AT_EXECFN));
    detail::main_stack_top = top;
#endif
}

// The stack grows down on every platform korvel builds on.
[[gnu::noinline]] inline std::optional<std::size_t> thread_stack_left() {
#if defined(__linux__)
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const std::uintptr_t top = detail::main_stack_top;
    if (here < top && top - here < detail::main_stack_reach) return detail::left_on_main_stack(here);
    return detail::left_in_thread_bounds(here);
#else
    return std::nullopt;
#endif
}

// The call that builds the tables, the first of a process, goes 33 levels of
// search deep (build_stack_bytes, which stack_test measures).
inline void require_stack_for_build() {
    const std::optional<std::size_t> left = thread_stack_left();
    if (!left || *left >= build_stack_bytes) return;
    PyErr_Format(PyExc_RecursionError,
                 "korvel.get_lists() builds its tables on the first call, which needs %zu KiB of stack, and this "
                 "thread has %zu KiB left: make the first call from a thread with a larger stack "
                 "(threading.stack_size)",
                 (build_stack_bytes + 1023) / 1024, *left / 1024);
    throw pending_python_error;
}

}  // namespace korvel::module
