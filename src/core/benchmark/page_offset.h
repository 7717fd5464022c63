#pragma once

#include <cstdint>

namespace vantrel {

inline constexpr std::uintptr_t kPageSize = 4096;

namespace detail {

template <class F> [[gnu::noinline]] decltype(auto) callBelowGap(F& f) { return f(); }

} // namespace detail

// Calls f with its stack frame at the same offset within a page, however deep the caller is.
// Address-space randomisation and the size of the environment otherwise move the stack in
// 16-byte steps from one start to the next, and with it which of f's stack slots and locals
// share their low 12 address bits with other data they store and load (4K aliasing): a tight
// loop's speed would then depend on where this start happened to put the stack.
template <class F> [[gnu::noinline]] decltype(auto) callAtPageOffset(std::uintptr_t offset, F&& f)
{
#if defined(__GNUC__)
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    void* gap = __builtin_alloca((here - offset) % kPageSize);
    // Keeps the gap, so the frames below it stay where they were put.
    asm volatile("" : : "r"(gap) : "memory");
#endif
    return detail::callBelowGap(f);
}

} // namespace vantrel
