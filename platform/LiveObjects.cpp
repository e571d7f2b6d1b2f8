// The live-object report.
#include "platform/LiveObjects.h"

#include "platform/Apartment.h"
#include "platform/Handle.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "platform/Unknown.h"

namespace platform {

LiveObjects liveObjects() noexcept {
    LiveObjects live;
    live.comObjects = liveComObjects();
    live.handles = liveHandles();
    live.threads = liveThreads();
    live.timers = liveTimers();
    live.apartments = liveApartments();
    return live;
}

std::string describe(const LiveObjects& live) {
    std::string text;
    auto add = [&](std::size_t n, const char* one, const char* many) {
        if (n == 0) return;
        if (!text.empty()) text += ", ";
        text += std::to_string(n) + " " + (n == 1 ? one : many);
    };
    add(live.comObjects, "object", "objects");
    add(live.handles, "handle", "handles");
    add(live.threads, "thread", "threads");
    add(live.timers, "timer", "timers");
    add(live.apartments, "apartment", "apartments");
    return text.empty() ? "nothing" : text;
}

}  // namespace platform
