// What of the platform is still alive: reference-counted objects, handles, threads,
// timers and apartments. Tests check it is all zero after a test; a shutdown check
// can print it instead of hiding a leak.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

struct LiveObjects {
    std::size_t comObjects = 0;
    std::size_t handles = 0;
    std::size_t threads = 0;
    std::size_t timers = 0;
    std::size_t apartments = 0;

    bool isEmpty() const noexcept { return comObjects + handles + threads + timers + apartments == 0; }
    friend bool operator==(const LiveObjects&, const LiveObjects&) = default;
};

LiveObjects liveObjects() noexcept;
// "3 objects, 1 handle, ..." listing only what is not zero; "nothing" when empty.
std::string describe(const LiveObjects& live);

}  // namespace platform
