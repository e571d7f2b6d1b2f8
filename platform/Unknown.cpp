// Bookkeeping shared by every reference-counted object of the process.
#include "platform/Unknown.h"

namespace platform {
namespace {
std::atomic<long> liveObjects{0};
}

std::size_t liveComObjects() noexcept { return static_cast<std::size_t>(liveObjects.load()); }
void countComObject(int delta) noexcept { liveObjects += delta; }

}  // namespace platform
