#include "sheet/xlsx/Zip.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace sheet::xlsx {
namespace {

std::string zipMessage(zip_error_t* error) {
    const char* text = zip_error_strerror(error);
    return text ? text : "unknown zip error";
}

struct ArchiveCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct FileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

}  // namespace

struct ZipReader::Impl {
    std::unique_ptr<zip_t, ArchiveCloser> archive;
};

ZipReader::ZipReader(std::string_view bytes, const ReadLimits& limits)
    : impl_(std::make_unique<Impl>()), limits_(limits) {
    if (bytes.size() > limits.maxFileBytes)
        throw XlsxError("the file is larger than " + std::to_string(limits.maxFileBytes >> 20) + " MB");
    if (bytes.empty()) throw XlsxError("the file is empty, not a zip archive as an .xlsx workbook is");
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source) {
        std::string message = zipMessage(&error);
        zip_error_fini(&error);
        throw XlsxError("not a zip archive: " + message);
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive) {
        zip_source_free(source);
        std::string message = zipMessage(&error);
        zip_error_fini(&error);
        throw XlsxError("not a valid .xlsx file (zip archive): " + message);
    }
    zip_error_fini(&error);
    impl_->archive.reset(archive);
    zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > limits.maxEntries)
        throw XlsxError("the archive holds more than " + std::to_string(limits.maxEntries) + " entries");
    std::uint64_t declared = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!name) throw XlsxError("entry " + std::to_string(i) + " of the archive has no readable name");
        std::string n(name);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
            // Declared sizes are checked up front so that a file claiming more than
            // the reader takes is refused before anything is unpacked; reading
            // enforces the limits again on what entries really hold.
            if (st.size > limits.maxEntryBytes)
                throw XlsxError(n + ": declares " + std::to_string(st.size) + " bytes, more than the reader accepts");
            declared += st.size;
            if (declared > limits.maxTotalBytes)
                throw XlsxError("the archive's entries declare more than " +
                                std::to_string(limits.maxTotalBytes >> 20) +
                                " MB together, more than the reader accepts (at " + n + ")");
        }
        if (!n.empty() && n.back() != '/') names_.push_back(std::move(n));
    }
}

ZipReader::~ZipReader() = default;

bool ZipReader::has(std::string_view name) const {
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::string ZipReader::read(std::string_view name) {
    std::string out;
    bool isFirst = true;
    readChunks(name, [&](std::string_view piece) {
        if (isFirst) {
            out.reserve(reserveHint_);
            isFirst = false;
        }
        out.append(piece);
    });
    return out;
}

void ZipReader::readChunks(std::string_view name, const std::function<void(std::string_view)>& chunk) {
    std::string n(name);
    zip_t* archive = impl_->archive.get();
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(archive, n.c_str(), 0, &st) != 0) throw XlsxError(n + ": missing from the archive");
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        throw XlsxError(n + ": the entry is encrypted");
    std::uint64_t cap =
        std::min(limits_.maxEntryBytes, limits_.maxTotalBytes - std::min(totalRead_, limits_.maxTotalBytes));
    if ((st.valid & ZIP_STAT_SIZE) && st.size > cap)
        throw XlsxError(n + ": declares " + std::to_string(st.size) + " bytes, more than the reader accepts");
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen(archive, n.c_str(), 0));
    if (!file) throw XlsxError(n + ": cannot be opened: " + zipMessage(zip_get_error(archive)));
    // Trust the declared size only as a hint: the reading below stops at the cap
    // whatever the entry claims.
    reserveHint_ = (st.valid & ZIP_STAT_SIZE) ? static_cast<std::size_t>(std::min<std::uint64_t>(st.size, cap)) : 0;
    std::vector<char> buffer(1 << 18);
    std::uint64_t total = 0;
    for (;;) {
        zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
        if (got < 0) throw XlsxError(n + ": damaged: " + zipMessage(zip_file_get_error(file.get())));
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
        if (total > cap) throw XlsxError(n + ": expands beyond " + std::to_string(cap >> 20) + " MB");
        chunk(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    totalRead_ += total;
}

namespace {

struct Entry {
    std::string name;
    std::string compressed;  // raw deflate; its first `used` bytes are written
    std::size_t used = 0;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::unique_ptr<z_stream> stream;  // while its bytes arrive
    bool isDone = false;
    std::string failure;
};

// Deflates bytes into the entry; the last call ends its stream.
void deflateInto(Entry& e, std::string_view bytes, bool isLast) {
    if (!e.failure.empty()) return;
    if (!e.stream) {
        e.stream = std::make_unique<z_stream>();
        // Level 1: the large sheet parts compress about as well as at the default
        // level for their repetitive markup, at several times the speed. Raw
        // deflate, as zip entries hold it.
        if (deflateInit2(e.stream.get(), 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            e.stream.reset();
            e.failure = "cannot start compressing " + e.name;
            return;
        }
        // A part given whole gets room for its worst case at once.
        if (isLast && bytes.size() < 0xFFFFFFFFull)
            e.compressed.resize(deflateBound(e.stream.get(), static_cast<uLong>(bytes.size())));
    }
    z_stream& z = *e.stream;
    e.size += bytes.size();
    // zlib counts in 32 bits: what is larger goes through in slices.
    constexpr std::size_t kSlice = 1u << 30;
    std::size_t offset = 0;
    int status = Z_OK;
    do {
        const std::size_t slice = std::min(kSlice, bytes.size() - offset);
        const bool isFinal = isLast && offset + slice == bytes.size();
        e.crc =
            static_cast<std::uint32_t>(crc32_z(e.crc, reinterpret_cast<const Bytef*>(bytes.data() + offset), slice));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + offset));
        z.avail_in = static_cast<uInt>(slice);
        for (;;) {
            if (e.compressed.size() - e.used < (1u << 15))
                e.compressed.resize(std::max<std::size_t>(e.compressed.size() * 2, e.used + (1u << 16)));
            const std::size_t room = std::min<std::size_t>(e.compressed.size() - e.used, kSlice);
            z.next_out = reinterpret_cast<Bytef*>(e.compressed.data() + e.used);
            z.avail_out = static_cast<uInt>(room);
            status = deflate(&z, isFinal ? Z_FINISH : Z_NO_FLUSH);
            e.used += room - z.avail_out;
            if (status == Z_STREAM_END) break;
            if (status != Z_OK && status != Z_BUF_ERROR) break;
            if (!isFinal && z.avail_in == 0 && z.avail_out != 0) break;
        }
        offset += slice;
    } while (offset < bytes.size() && (status == Z_OK || status == Z_BUF_ERROR));
    if (isLast || (status != Z_OK && status != Z_BUF_ERROR)) {
        deflateEnd(&z);
        e.stream.reset();
        if (status != Z_STREAM_END) {
            e.failure = "cannot compress " + e.name;
            return;
        }
        // Room for the worst case was the raw size; what the entry keeps is its own.
        e.compressed.resize(e.used);
        e.compressed.shrink_to_fit();
    }
}

void put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// 1 January 1981, 00:00 in the archive's DOS form: no part carries the time it was
// written, so saving the same content twice gives the same file.
constexpr std::uint32_t kDosTime = 0;
constexpr std::uint32_t kDosDate = ((1981 - 1980) << 9) | (1 << 5) | 1;
constexpr std::uint32_t kUtf8Names = 0x0800;
constexpr std::uint32_t kDeflated = 8;
constexpr std::uint32_t kVersion = 20;

}  // namespace

struct ZipWriter::Impl {
    struct Job {
        Entry* entry;
        std::string bytes;
        bool isLast;   // the entry's last bytes
        bool isWhole;  // and its first: any thread may take it
    };

    // Bytes queued before a writer of pieces waits: memory stays bounded however
    // large a part grows.
    static constexpr std::size_t kMaxQueuedBytes = 3u << 20;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Entry> entries;  // stable addresses
    std::deque<Job> queue;
    std::size_t queuedBytes = 0;
    std::thread worker;
    bool hasNoWorker = false;
    bool isStopping = false;

    // Runs the first job, or with `wholeOnly` the first job that is a whole entry
    // (the pieces of an entry are taken by the worker alone, so they stay in
    // order); false when there is none. The lock is released while compressing.
    bool runNext(std::unique_lock<std::mutex>& lock, bool wholeOnly) {
        auto it = queue.begin();
        if (wholeOnly)
            while (it != queue.end() && !it->isWhole) ++it;
        if (it == queue.end()) return false;
        Job job = std::move(*it);
        queue.erase(it);
        lock.unlock();
        try {
            deflateInto(*job.entry, job.bytes, job.isLast);
        } catch (const std::bad_alloc&) {
            job.entry->failure = "out of memory compressing " + job.entry->name;
            job.entry->stream.reset();
        }
        const std::size_t done = job.bytes.size();
        std::string().swap(job.bytes);
        lock.lock();
        queuedBytes -= done;
        if (job.isLast) job.entry->isDone = true;
        wake.notify_all();
        return true;
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return isStopping || !queue.empty(); });
            if (isStopping) return;
            runNext(lock, false);
        }
    }

    void push(Entry& e, std::string bytes, bool isLast, bool isWhole) {
        {
            std::unique_lock lock(mutex);
            // A writer of pieces waits for the worker; whole parts are queued as
            // they are, already made.
            if (!isWhole) wake.wait(lock, [&] { return queuedBytes < kMaxQueuedBytes; });
            queuedBytes += bytes.size();
            queue.push_back(Job{&e, std::move(bytes), isLast, isWhole});
            if (hasNoWorker) {
                runNext(lock, false);
                return;
            }
        }
        if (!worker.joinable()) {
            try {
                worker = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                // No thread to be had: this one compresses, as the parts come.
                std::unique_lock lock(mutex);
                hasNoWorker = true;
                while (runNext(lock, false)) {
                }
                return;
            }
        }
        wake.notify_all();
    }
};

ZipWriter::ZipWriter() : impl_(std::make_unique<Impl>()) {}

ZipWriter::~ZipWriter() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->isStopping = true;
    }
    impl_->wake.notify_all();
    if (impl_->worker.joinable()) impl_->worker.join();
    for (Entry& e : impl_->entries)
        if (e.stream) deflateEnd(e.stream.get());
}

void ZipWriter::add(const std::string& name, std::string bytes) {
    Entry* e = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        e = &impl_->entries.emplace_back();
        e->name = name;
    }
    impl_->push(*e, std::move(bytes), true, true);
}

std::size_t ZipWriter::beginEntry(const std::string& name) {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.emplace_back().name = name;
    return impl_->entries.size() - 1;
}

void ZipWriter::write(std::size_t entry, std::string piece) {
    if (piece.empty()) return;
    impl_->push(impl_->entries.at(entry), std::move(piece), false, false);
}

void ZipWriter::endEntry(std::size_t entry, std::string piece) {
    impl_->push(impl_->entries.at(entry), std::move(piece), true, false);
}

std::string ZipWriter::finish() {
    std::vector<std::string> order;
    std::set<std::string_view> seen;
    for (const Entry& e : impl_->entries)
        if (seen.insert(e.name).second) order.push_back(e.name);
    return finish(order);
}

std::string ZipWriter::finish(const std::vector<std::string>& order) {
    Impl& impl = *impl_;
    {
        // This thread compresses the whole parts still queued, beside the worker.
        std::unique_lock lock(impl.mutex);
        while (impl.runNext(lock, true)) {
        }
        impl.wake.wait(lock, [&] { return impl.queue.empty() && impl.queuedBytes == 0; });
    }
    // The last entry added under a name is the one written.
    std::map<std::string_view, const Entry*> byName;
    for (const Entry& e : impl.entries) byName[e.name] = &e;
    std::vector<const Entry*> written;
    for (const std::string& name : order) {
        auto it = byName.find(name);
        if (it == byName.end()) throw XlsxError(name + ": not among the archive's entries");
        if (!it->second->failure.empty()) throw XlsxError(it->second->failure);
        if (!it->second->isDone) throw XlsxError(name + ": its last piece was never written");
        written.push_back(it->second);
    }
    if (written.size() > 0xFFFF) throw XlsxError("more than 65,535 entries for one archive");

    std::uint64_t total = 22;
    for (const Entry* e : written) total += 30 + 46 + 2 * e->name.size() + e->compressed.size();
    if (total > 0xFFFFFFFFull) throw XlsxError("the archive would be larger than 4 GB");
    std::string out;
    out.reserve(static_cast<std::size_t>(total));
    std::vector<std::uint32_t> offsets;
    for (const Entry* e : written) {
        if (e->size > 0xFFFFFFFFull) throw XlsxError(e->name + ": larger than 4 GB");
        offsets.push_back(static_cast<std::uint32_t>(out.size()));
        put32(out, 0x04034b50);
        put16(out, kVersion);
        put16(out, kUtf8Names);
        put16(out, kDeflated);
        put16(out, kDosTime);
        put16(out, kDosDate);
        put32(out, e->crc);
        put32(out, static_cast<std::uint32_t>(e->compressed.size()));
        put32(out, static_cast<std::uint32_t>(e->size));
        put16(out, static_cast<std::uint32_t>(e->name.size()));
        put16(out, 0);
        out += e->name;
        out += e->compressed;
    }
    const auto directory = static_cast<std::uint32_t>(out.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const Entry* e = written[i];
        put32(out, 0x02014b50);
        put16(out, (3 << 8) | kVersion);  // made on a Unix-like system
        put16(out, kVersion);
        put16(out, kUtf8Names);
        put16(out, kDeflated);
        put16(out, kDosTime);
        put16(out, kDosDate);
        put32(out, e->crc);
        put32(out, static_cast<std::uint32_t>(e->compressed.size()));
        put32(out, static_cast<std::uint32_t>(e->size));
        put16(out, static_cast<std::uint32_t>(e->name.size()));
        put16(out, 0);               // extra field
        put16(out, 0);               // comment
        put16(out, 0);               // disk
        put16(out, 0);               // internal attributes
        put32(out, 0100644u << 16);  // a regular file, rw-r--r--
        put32(out, offsets[i]);
        out += e->name;
    }
    const auto directorySize = static_cast<std::uint32_t>(out.size() - directory);
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(written.size()));
    put16(out, static_cast<std::uint32_t>(written.size()));
    put32(out, directorySize);
    put32(out, directory);
    put16(out, 0);
    return out;
}

}  // namespace sheet::xlsx
