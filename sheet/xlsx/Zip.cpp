#include "sheet/xlsx/Zip.h"

#include <zip.h>

#include <algorithm>
#include <deque>

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

struct ZipWriter::Impl {
    std::deque<std::string> buffers;
    std::vector<std::string> names;
};

ZipWriter::ZipWriter() : impl_(std::make_unique<Impl>()) {}
ZipWriter::~ZipWriter() = default;

void ZipWriter::add(const std::string& name, std::string bytes) {
    impl_->names.push_back(name);
    impl_->buffers.push_back(std::move(bytes));
}

std::string ZipWriter::finish() {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!target) {
        zip_error_fini(&error);
        throw XlsxError("out of memory for the zip archive");
    }
    // The target source must outlive the archive's close, which writes into it.
    zip_source_keep(target);
    struct SourceFree {
        void operator()(zip_source_t* s) const { zip_source_free(s); }
    };
    std::unique_ptr<zip_source_t, SourceFree> targetOwner(target);
    zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error);
    if (!archive) {
        std::string message = zipMessage(&error);
        zip_error_fini(&error);
        zip_source_free(target);  // the reference zip_open_from_source did not take
        throw XlsxError("cannot create the zip archive: " + message);
    }
    zip_error_fini(&error);
    std::unique_ptr<zip_t, ArchiveCloser> owner(archive);
    for (std::size_t i = 0; i < impl_->names.size(); ++i) {
        const std::string& data = impl_->buffers[i];
        zip_source_t* s = zip_source_buffer(archive, data.data(), data.size(), 0);
        if (!s) throw XlsxError("cannot add " + impl_->names[i] + ": " + zipMessage(zip_get_error(archive)));
        zip_int64_t index = zip_file_add(archive, impl_->names[i].c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(s);
            throw XlsxError("cannot add " + impl_->names[i] + ": " + zipMessage(zip_get_error(archive)));
        }
        // Level 1 deflate: the large sheet parts compress about as well as at the
        // default level for their repetitive markup, at several times the speed.
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
        zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), 315532800 + 86400 * 366, 0);
    }
    if (zip_close(archive) != 0) throw XlsxError("cannot write the zip archive: " + zipMessage(zip_get_error(archive)));
    owner.release();
    std::string out;
    if (zip_source_open(target) != 0) throw XlsxError("cannot read back the zip archive");
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(target, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) out.reserve(st.size);
    char buffer[1 << 16];
    for (;;) {
        zip_int64_t got = zip_source_read(target, buffer, sizeof buffer);
        if (got < 0) {
            zip_source_close(target);
            throw XlsxError("cannot read back the zip archive");
        }
        if (got == 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    zip_source_close(target);
    return out;
}

}  // namespace sheet::xlsx
