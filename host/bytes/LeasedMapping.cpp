#include "host/bytes/LeasedMapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace hostbytes {

namespace {

// The table's entries are atomics, lock-free: the lease-break handler may load them.
platform::FileSystemCalls& sys() { return platform::fileSystemCalls(); }

// What the lease-break handler knows of each mapped file. It runs on whichever
// thread the signal reaches, so it reads only atomics, and the two things that
// could pull the mapping from under it (a release of pages, the mapping's end)
// wait until it is done; it waits for a MADV_DONTNEED in progress in turn.
struct Slot {
    std::atomic<int> fd{-1};  // -1: a free slot
    std::atomic<char*> base{nullptr};
    std::atomic<std::size_t> size{0};
    // 0: the file's pages; 1: being copied; 2: a private copy; 3: the lease broke
    // before there was a mapping to copy.
    std::atomic<int> state{0};
    std::atomic<int> handlers{0};        // handlers at work on the slot
    std::atomic<bool> releasing{false};  // pages being dropped (MADV_DONTNEED)
};

constexpr int kSlots = 64;
Slot g_slots[kSlots];
std::mutex g_claim;  // slots are claimed and freed, and the handler installed, under it
bool g_installed = false;
struct sigaction g_previous {};

void copyPrivately(Slot& s) {
    int expected = 0;
    if (!s.state.compare_exchange_strong(expected, 1)) return;  // copied, or being copied
    while (s.releasing.load()) {
    }
    char* const base = s.base.load();
    const int fd = s.fd.load();
    if (!base) {
        // Not mapped yet: the opener sees this and reads the file instead.
        s.state.store(3);
    } else {
        // Copied into memory of the process's own, which then takes the mapping's
        // place at the same addresses: the file's pages of a mapping, even those a
        // write made private, go when the file is cut short. The writer waits for
        // the lease meanwhile.
        const std::size_t size = s.size.load();
        void* copy = sys().mmap.load()(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (copy != MAP_FAILED) {
            std::memcpy(copy, base, size);
            (void)sys().mprotect.load()(copy, size, PROT_READ);
            if (sys().mremap.load()(copy, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, base) == MAP_FAILED)
                (void)sys().munmap.load()(copy, size);
        }
        s.state.store(2);
    }
    if (fd >= 0) (void)sys().lease.load()(fd, F_SETLEASE, F_UNLCK);
}

void onLeaseBreak(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    bool ours = false;
    // The signal names one file, but signals of the same number sent together
    // arrive as one: every lease being broken (asked for, it says it is to end) is
    // answered.
    const int named = info ? info->si_fd : -1;
    for (Slot& s : g_slots) {
        s.handlers.fetch_add(1);
        const int fd = s.fd.load();
        if (fd >= 0 && (fd == named || sys().lease.load()(fd, F_GETLEASE, 0) == F_UNLCK)) {
            copyPrivately(s);
            ours = ours || fd == named;
        }
        s.handlers.fetch_sub(1);
    }
    errno = savedErrno;
    if (ours) return;
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
    }
    // A signal for no mapping of ours, with no handler before: nothing to do (its
    // default would end the process).
}

bool installHandler() {
    if (g_installed) return true;
    struct sigaction action {};
    action.sa_sigaction = &onLeaseBreak;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGIO, &action, &g_previous) != 0) return false;
    g_installed = true;
    return true;
}

// Blocks the lease-break signal on this thread while it drops pages, so that
// the handler never waits on the thread it interrupted.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGIO);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

}  // namespace

std::unique_ptr<LeasedMapping> LeasedMapping::open(const std::string& path, std::uint64_t maxBytes,
                                                   std::size_t minBytes, platform::FileStamp& stamp) {
    const int fd = sys().open.load()(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (sys().fstat.load()(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<std::uint64_t>(st.st_size) < minBytes || static_cast<std::uint64_t>(st.st_size) >= maxBytes) {
        (void)sys().close.load()(fd);
        return nullptr;
    }
    std::unique_ptr<LeasedMapping> mapped(new LeasedMapping());
    mapped->fd_ = fd;
    {
        std::lock_guard<std::mutex> lock(g_claim);
        if (!installHandler()) return nullptr;
        for (int i = 0; i < kSlots && mapped->slot_ < 0; ++i) {
            if (g_slots[i].fd.load() != -1) continue;
            g_slots[i].base.store(nullptr);
            g_slots[i].size.store(0);
            g_slots[i].state.store(0);
            g_slots[i].releasing.store(false);
            g_slots[i].fd.store(fd);
            mapped->slot_ = i;
        }
    }
    if (mapped->slot_ < 0) return nullptr;
    // The signal says which file; the lease fails when someone has it open to write.
    if (sys().fcntl.load()(fd, F_SETSIG, SIGIO) != 0 || sys().fcntl.load()(fd, F_SETOWN, ::getpid()) != 0 ||
        sys().lease.load()(fd, F_SETLEASE, F_RDLCK) != 0)
        return nullptr;
    // With the lease held no one writes the file: its size and version are settled.
    if (sys().fstat.load()(fd, &st) != 0 || st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) >= maxBytes)
        return nullptr;
    const auto size = static_cast<std::size_t>(st.st_size);
    void* base = sys().mmap.load()(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (base == MAP_FAILED) return nullptr;
    mapped->base_ = static_cast<const char*>(base);
    mapped->size_ = size;
    Slot& slot = g_slots[mapped->slot_];
    slot.size.store(size);
    slot.base.store(static_cast<char*>(base));
    // A writer that came between the lease and the mapping found nothing to copy:
    // the file may have changed, so it is read again the usual way.
    if (slot.state.load() == 3) return nullptr;
    stamp = platform::stampOf(st);
    return mapped;
}

LeasedMapping::~LeasedMapping() {
    if (slot_ >= 0) {
        Slot& slot = g_slots[slot_];
        std::lock_guard<std::mutex> lock(g_claim);
        slot.fd.store(-1);
        while (slot.handlers.load() != 0) {
        }
        slot.base.store(nullptr);
    }
    if (base_) (void)sys().munmap.load()(const_cast<char*>(base_), size_);
    if (fd_ >= 0) (void)sys().close.load()(fd_);  // which ends the lease
}

void LeasedMapping::noteRead(std::size_t offset, std::size_t bytes) {
    const std::size_t window = offset / kAroundBytes;
    if (window != lastWindow_) readSinceRelease_ += kAroundBytes;
    lastWindow_ = (offset + bytes) / kAroundBytes;
    readSinceRelease_ += bytes;
    if (readSinceRelease_ > kResidentBytes) release();
}

void LeasedMapping::release() {
    readSinceRelease_ = 0;
    if (slot_ < 0 || !base_) return;
    Slot& slot = g_slots[slot_];
    SignalBlock block;
    slot.releasing.store(true);
    // A copy started before this would lose the pages copied: it is left alone.
    if (slot.state.load() == 0) (void)sys().madvise.load()(const_cast<char*>(base_), size_, MADV_DONTNEED);
    slot.releasing.store(false);
}

void LeasedMapping::populate(std::size_t offset, std::size_t bytes) const {
#ifdef MADV_POPULATE_READ
    if (!base_ || offset >= size_) return;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t from = offset / page * page;
    const std::size_t to = std::min(size_, offset + bytes);
    (void)sys().madvise.load()(const_cast<char*>(base_) + from, to - from, MADV_POPULATE_READ);
#else
    (void)offset;
    (void)bytes;
#endif
}

bool LeasedMapping::isPrivateCopy() const { return slot_ >= 0 && g_slots[slot_].state.load() == 2; }

}  // namespace hostbytes
