#include "sheet/xlsx/Zip.h"

#include "sheet/xlsx/ForeignFile.h"

#include <zip.h>
#include <zlib.h>
#if TABLORA_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
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
    // A workbook of another format, or text, is named as what it is rather than
    // refused as "not a zip archive".
    if (!bytes.starts_with("PK")) refuseForeignFile(bytes);
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
    // Trust the declared size only as a hint: the reading below stops at the cap
    // whatever the entry claims.
    reserveHint_ = (st.valid & ZIP_STAT_SIZE) ? static_cast<std::size_t>(std::min<std::uint64_t>(st.size, cap)) : 0;
    std::uint64_t total = 0;
    auto take = [&](const char* data, std::size_t size) {
        total += size;
        if (total > cap) throw XlsxError(n + ": expands beyond " + std::to_string(cap >> 20) + " MB");
        chunk(std::string_view(data, size));
    };
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_DEFLATE && (st.valid & ZIP_STAT_CRC)) {
        inflateEntry(n, st.index, (st.valid & ZIP_STAT_SIZE) ? st.size : UINT64_MAX, st.crc, take);
        totalRead_ += total;
        return;
    }
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen(archive, n.c_str(), 0));
    if (!file) throw XlsxError(n + ": cannot be opened: " + zipMessage(zip_get_error(archive)));
    std::vector<char> buffer(1 << 18);
    for (;;) {
        zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
        if (got < 0) throw XlsxError(n + ": damaged: " + zipMessage(zip_file_get_error(file.get())));
        if (got == 0) break;
        take(buffer.data(), static_cast<std::size_t>(got));
    }
    totalRead_ += total;
}

namespace {

// A raw deflate stream fed in pieces, with the CRC-32 of what went in. Where the
// build has ISA-L, its level 1 compresses these markup-heavy parts about four times
// as fast as zlib's fastest level, and smaller; zlib stands in elsewhere.
class Deflater {
public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
#if TABLORA_HAVE_ISAL
    ~Deflater() = default;
    bool start() {
        stream_ = std::make_unique<isal_zstream>();
        isal_deflate_init(stream_.get());
        levelBuffer_.resize(ISAL_DEF_LVL1_DEFAULT);
        stream_->level = 1;
        stream_->level_buf = levelBuffer_.data();
        stream_->level_buf_size = static_cast<std::uint32_t>(levelBuffer_.size());
        return true;
    }
    // Room for the output of bytes given whole: a stored block's worth of overhead
    // on top of the input at worst.
    static std::size_t bound(std::size_t size) { return size + size / 16 + 1024; }
    static std::uint32_t crc(std::uint32_t crc, const char* data, std::size_t size) {
        return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), size);
    }
    void input(const char* data, std::size_t size, bool isFinal) {
        stream_->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(data));
        stream_->avail_in = static_cast<std::uint32_t>(size);
        stream_->end_of_stream = isFinal ? 1 : 0;
        stream_->flush = NO_FLUSH;
    }
    // One step into out[0, room): how much it wrote, or nothing on failure.
    std::optional<std::size_t> step(char* out, std::size_t room) {
        stream_->next_out = reinterpret_cast<std::uint8_t*>(out);
        stream_->avail_out = static_cast<std::uint32_t>(room);
        if (isal_deflate(stream_.get()) != COMP_OK) return std::nullopt;
        return room - stream_->avail_out;
    }
    bool isDone() const { return stream_->internal_state.state == ZSTATE_END; }
    bool hasInput() const { return stream_->avail_in != 0; }
    void end() {
        stream_.reset();
        std::vector<std::uint8_t>().swap(levelBuffer_);
    }
    explicit operator bool() const { return stream_ != nullptr; }

private:
    std::unique_ptr<isal_zstream> stream_;
    std::vector<std::uint8_t> levelBuffer_;
#else
    ~Deflater() { end(); }
    bool start() {
        stream_ = std::make_unique<z_stream>();
        // Level 1: the large sheet parts compress about as well as at the default
        // level for their repetitive markup, at several times the speed. Raw
        // deflate, as zip entries hold it.
        if (deflateInit2(stream_.get(), 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK) return true;
        stream_.reset();
        return false;
    }
    static std::size_t bound(std::size_t size) { return size + size / 1000 + 1024; }
    static std::uint32_t crc(std::uint32_t crc, const char* data, std::size_t size) {
        return static_cast<std::uint32_t>(crc32_z(crc, reinterpret_cast<const Bytef*>(data), size));
    }
    void input(const char* data, std::size_t size, bool isFinal) {
        stream_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream_->avail_in = static_cast<uInt>(size);
        isFinal_ = isFinal;
        isDone_ = false;
    }
    std::optional<std::size_t> step(char* out, std::size_t room) {
        stream_->next_out = reinterpret_cast<Bytef*>(out);
        stream_->avail_out = static_cast<uInt>(room);
        const int status = deflate(stream_.get(), isFinal_ ? Z_FINISH : Z_NO_FLUSH);
        if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END) return std::nullopt;
        isDone_ = status == Z_STREAM_END;
        return room - stream_->avail_out;
    }
    bool isDone() const { return isDone_; }
    bool hasInput() const { return stream_->avail_in != 0; }
    void end() {
        if (stream_) deflateEnd(stream_.get());
        stream_.reset();
    }
    explicit operator bool() const { return stream_ != nullptr; }

private:
    std::unique_ptr<z_stream> stream_;
    bool isFinal_ = false, isDone_ = false;
#endif
};

struct Entry {
    std::string name;
    std::string compressed;  // raw deflate; its first `used` bytes are written
    std::size_t used = 0;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    Deflater deflater;  // while its bytes arrive
    bool isDone = false;
    std::string failure;
};

// Deflates bytes into the entry; the last call ends its stream.
void deflateInto(Entry& e, std::string_view bytes, bool isLast) {
    if (!e.failure.empty()) return;
    if (!e.deflater) {
        if (!e.deflater.start()) {
            e.failure = "cannot start compressing " + e.name;
            return;
        }
        // A part given whole gets room for its worst case at once.
        if (isLast) e.compressed.resize(Deflater::bound(bytes.size()));
    }
    Deflater& z = e.deflater;
    e.size += bytes.size();
    // The compressors count in 32 bits: what is larger goes through in slices.
    constexpr std::size_t kSlice = 1u << 30;
    std::size_t offset = 0;
    bool ok = true, isDone = false;
    do {
        const std::size_t slice = std::min(kSlice, bytes.size() - offset);
        const bool isFinal = isLast && offset + slice == bytes.size();
        e.crc = Deflater::crc(e.crc, bytes.data() + offset, slice);
        z.input(bytes.data() + offset, slice, isFinal);
        for (;;) {
            if (e.compressed.size() - e.used < (1u << 15))
                e.compressed.resize(std::max<std::size_t>(e.compressed.size() * 2, e.used + (1u << 16)));
            const std::size_t room = std::min<std::size_t>(e.compressed.size() - e.used, kSlice);
            const std::optional<std::size_t> wrote = z.step(e.compressed.data() + e.used, room);
            if (!wrote) {
                ok = false;
                break;
            }
            e.used += *wrote;
            if (isFinal ? z.isDone() : !z.hasInput()) break;
        }
        isDone = isFinal && ok;
        offset += slice;
    } while (ok && offset < bytes.size());
    if (isLast || !ok) {
        z.end();
        if (!isDone) {
            e.failure = "cannot compress " + e.name;
            return;
        }
        // Room for the worst case was the raw size; what the entry keeps is its own.
        e.compressed.resize(e.used);
        e.compressed.shrink_to_fit();
    }
}

// A raw deflate stream read in pieces: ISA-L's where the build has it, zlib's
// elsewhere.
class Inflater {
public:
    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
#if TABLORA_HAVE_ISAL
    bool start() {
        state_ = std::make_unique<inflate_state>();
        isal_inflate_init(state_.get());
        return true;
    }
    void input(const char* data, std::size_t size) {
        state_->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(data));
        state_->avail_in = static_cast<std::uint32_t>(size);
    }
    std::size_t inputLeft() const { return state_->avail_in; }
    // One step into out[0, room): how much it wrote, or nothing for a damaged stream.
    std::optional<std::size_t> step(char* out, std::size_t room) {
        state_->next_out = reinterpret_cast<std::uint8_t*>(out);
        state_->avail_out = static_cast<std::uint32_t>(room);
        const int status = isal_inflate(state_.get());
        if (status < 0 || status == ISAL_NEED_DICT) return std::nullopt;
        return room - state_->avail_out;
    }
    bool isDone() const { return state_->block_state == ISAL_BLOCK_FINISH; }

private:
    std::unique_ptr<inflate_state> state_;
#else
    ~Inflater() {
        if (stream_) inflateEnd(stream_.get());
    }
    bool start() {
        stream_ = std::make_unique<z_stream>();
        if (inflateInit2(stream_.get(), -MAX_WBITS) == Z_OK) return true;
        stream_.reset();
        return false;
    }
    void input(const char* data, std::size_t size) {
        stream_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream_->avail_in = static_cast<uInt>(size);
    }
    std::size_t inputLeft() const { return stream_->avail_in; }
    std::optional<std::size_t> step(char* out, std::size_t room) {
        stream_->next_out = reinterpret_cast<Bytef*>(out);
        stream_->avail_out = static_cast<uInt>(room);
        const int status = inflate(stream_.get(), Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return std::nullopt;
        isDone_ = status == Z_STREAM_END;
        return room - stream_->avail_out;
    }
    bool isDone() const { return isDone_; }

private:
    std::unique_ptr<z_stream> stream_;
    bool isDone_ = false;
#endif
};

}  // namespace

void ZipReader::inflateEntry(const std::string& n, std::uint64_t index, std::uint64_t declaredSize,
                             std::uint32_t declaredCrc, const std::function<void(const char*, std::size_t)>& take) {
    // The entry's deflate stream as stored, inflated here: its end is where the
    // stream says, and what it gives must be the size and checksum the directory
    // declares (libzip's own reading returns an entry cut short, or one longer than
    // declared cut to that size, without a word). With ISA-L, several times as fast.
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(impl_->archive.get(), index, ZIP_FL_COMPRESSED));
    if (!file) throw XlsxError(n + ": cannot be opened: " + zipMessage(zip_get_error(impl_->archive.get())));
    Inflater state;
    if (!state.start()) throw XlsxError(n + ": cannot start inflating");
    std::vector<char> in(1 << 16), out(1 << 18);
    std::uint64_t produced = 0;
    std::uint32_t crc = 0;
    bool isAtEnd = false, isFirstRead = true;
    while (!state.isDone()) {
        if (state.inputLeft() == 0 && !isAtEnd) {
            zip_int64_t got = zip_fread(file.get(), in.data(), in.size());
            if (got < 0) throw XlsxError(n + ": damaged: " + zipMessage(zip_file_get_error(file.get())));
            isAtEnd = got == 0;
            // Some writers store an empty file as no compressed bytes at all.
            if (isAtEnd && isFirstRead && declaredSize == 0) break;
            isFirstRead = false;
            state.input(in.data(), static_cast<std::size_t>(got));
        }
        const std::size_t inBefore = state.inputLeft();
        const std::optional<std::size_t> inflated = state.step(out.data(), out.size());
        if (!inflated) throw XlsxError(n + ": damaged: not a valid deflate stream");
        const std::size_t got = *inflated;
        if (got == 0 && state.inputLeft() == inBefore && !state.isDone()) {
            // A call that neither took nor gave anything will not do so again.
            if (isAtEnd || state.inputLeft() != 0) throw XlsxError(n + ": damaged: the compressed data ends early");
            continue;
        }
        if (got == 0) continue;
        produced += got;
        if (produced > declaredSize) throw XlsxError(n + ": damaged: more data than the directory declares");
        crc = Deflater::crc(crc, out.data(), got);
        take(out.data(), got);
    }
    if (declaredSize != UINT64_MAX && produced != declaredSize)
        throw XlsxError(n + ": damaged: less data than the directory declares");
    if (crc != declaredCrc) throw XlsxError(n + ": damaged: CRC error");
}

namespace {

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
    // Jobs taken off the queue and still compressing: an empty part adds no bytes,
    // so the byte count alone cannot say that every part is done.
    std::size_t running = 0;
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
        ++running;
        lock.unlock();
        try {
            deflateInto(*job.entry, job.bytes, job.isLast);
        } catch (const std::bad_alloc&) {
            job.entry->failure = "out of memory compressing " + job.entry->name;
            job.entry->deflater.end();
        }
        const std::size_t done = job.bytes.size();
        std::string().swap(job.bytes);
        lock.lock();
        queuedBytes -= done;
        --running;
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

void ZipWriter::compressQueued() {
    Impl& impl = *impl_;
    std::unique_lock lock(impl.mutex);
    while (impl.runNext(lock, true)) {
    }
}

std::string ZipWriter::finish(const std::vector<std::string>& order) {
    Impl& impl = *impl_;
    {
        // This thread compresses the whole parts still queued, beside the worker.
        std::unique_lock lock(impl.mutex);
        while (impl.runNext(lock, true)) {
        }
        impl.wake.wait(lock, [&] { return impl.queue.empty() && impl.running == 0; });
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
