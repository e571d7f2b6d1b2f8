// Software prefetch: the cache lines of a range of memory fetched ahead of a read
// that is known to come, so that the read does not wait on memory line by line.
#pragma once

#include <cstddef>

namespace platform {

constexpr std::size_t kCacheLineBytes = 64;

// Prefetches the cache line holding `at` into every level of the cache. Only a hint:
// no fault is taken, whatever the address. Spelled as an asm volatile statement where
// the processor has a prefetch instruction, which the compiler never removes: a call
// to a function that does nothing but __builtin_prefetch can be dropped as one
// without effect.
inline void prefetchLine(const void* at) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(at)));
#else
    __builtin_prefetch(at);
#endif
}

// Every cache line of [from, from + bytes), as prefetchLine.
inline void prefetch(const void* from, std::size_t bytes) {
    const char* const first = static_cast<const char*>(from);
    for (std::size_t at = 0; at < bytes; at += kCacheLineBytes) prefetchLine(first + at);
}

}  // namespace platform
