#include "host/db/DrawingFile.h"

#include "host/db/AcUnits.h"
#include "host/db/DrawingStore.h"
#include "host/db/UnitFormat.h"
#include "host/dxf/DxfTokenizer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int g_failWriteErrno = 0;

std::string systemError(int err) { return std::strerror(err); }

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int close() {
        int r = 0;
        if (fd_ >= 0) r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

// Removes a temporary file unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile() {
        if (!kept_) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    void keep() { kept_ = true; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool kept_ = false;
};

bool readWholeFile(const std::string& path, std::string& out, std::string& error) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        error = path + ": " + systemError(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    try {
        tabdb::checkTextSize(static_cast<std::uint64_t>(st.st_size));
    } catch (const dxf::DxfError& e) {
        error = path + ": " + e.what();
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + systemError(errno);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

bool writeAll(int fd, std::string_view data, int& err) {
    if (g_failWriteErrno) {
        err = std::exchange(g_failWriteErrno, 0);
        return false;
    }
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void drawingFileTestFailNextWrite(int errnoValue) { g_failWriteErrno = errnoValue; }

DrawingOpenResult openDrawingText(std::string text, std::string_view name) {
    DrawingOpenResult result;
    try {
        auto store = std::make_unique<tabdb::DrawingStore>(std::move(text));
        result.database = std::make_unique<AcDbDatabase>(std::move(store));
    } catch (const dxf::DxfError& e) {
        result.error = std::string(name) + ": " + e.what();
    } catch (const std::bad_alloc&) {
        result.error = std::string(name) + ": not enough memory to read the drawing";
    }
    return result;
}

DrawingOpenResult openDrawingFile(const std::string& path) {
    std::string text, error;
    if (!readWholeFile(path, text, error)) return {nullptr, error};
    DrawingOpenResult r = openDrawingText(std::move(text), path);
    if (r.database) r.database->setFileName(path);
    return r;
}

std::string writeDrawingText(const AcDbDatabase& db) {
    std::string out;
    out.reserve(db.store().text().size() + 4096);
    db.store().write([&](std::string_view s) { out.append(s); });
    return out;
}

std::string backupPathFor(const std::string& path) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".bak";
    return path.substr(0, dot) + ".bak";
}

DrawingSaveResult saveDrawingAs(AcDbDatabase& db, const std::string& path) {
    auto failed = [&](const std::string& what, int err) {
        return DrawingSaveResult{false, "could not save " + path + ": " + what + ": " + systemError(err) +
                                            "; the previous file is unchanged"};
    };
    if (path.empty()) return {false, "could not save: the drawing has no file name"};
    std::string tmpl = directoryOf(path) + "/.tablora-save-XXXXXX";
    int raw = ::mkstemp(tmpl.data());
    if (raw < 0) return failed("cannot create a temporary file", errno);
    Fd fd(raw);
    TempFile temp(tmpl);
    bool ok = true;
    int err = 0;
    std::string pending;
    // Large stretches go straight out; small patches are gathered first.
    db.store().write([&](std::string_view s) {
        if (!ok) return;
        if (s.size() >= 65536) {
            if (!pending.empty()) { ok = writeAll(fd.get(), pending, err); pending.clear(); }
            if (ok) ok = writeAll(fd.get(), s, err);
        } else {
            pending.append(s);
            if (pending.size() >= 65536) { ok = writeAll(fd.get(), pending, err); pending.clear(); }
        }
    });
    if (ok && !pending.empty()) ok = writeAll(fd.get(), pending, err);
    if (!ok) return failed("write failed", err);
    if (::fsync(fd.get()) != 0) return failed("write failed", errno);
    struct stat st {};
    bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed) ::fchmod(fd.get(), st.st_mode & 07777);
    else ::fchmod(fd.get(), 0644);
    if (fd.close() != 0) return failed("write failed", errno);
    if (existed) {
        // The previous file becomes NAME.bak; a hard link leaves NAME in place until
        // the new content replaces it in one rename.
        std::string bak = backupPathFor(path);
        if (::unlink(bak.c_str()) != 0 && errno != ENOENT) return failed("cannot replace " + bak, errno);
        if (::link(path.c_str(), bak.c_str()) != 0) {
            std::string old, error;
            if (!readWholeFile(path, old, error)) return failed("cannot keep the previous file as " + bak, errno);
            Fd b(::open(bak.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
            int e2 = 0;
            if (b.get() < 0 || !writeAll(b.get(), old, e2)) return failed("cannot keep the previous file as " + bak, e2 ? e2 : errno);
        }
    }
    if (::rename(temp.path().c_str(), path.c_str()) != 0) return failed("cannot replace the file", errno);
    temp.keep();
    db.setFileName(path);
    db.setModified(false);
    return {true, {}};
}

DrawingSaveResult saveDrawing(AcDbDatabase& db) { return saveDrawingAs(db, db.fileName()); }

void listBlockReferences(AcDbDatabase& db, std::ostream& out) {
    const tabunits::UnitSettings u = tabunits::settingsOf(db);
    auto dist = [&](double v) { return tabunits::formatDistance(v, u.lunits, u.luprec, u.dimzin); };
    auto ang = [&](double v) { return tabunits::formatAngle(v, u.aunits, u.auprec); };
    std::size_t count = 0;
    for (auto& block : db.store().blocks()) {
        if (block.record->erased) continue;
        for (tabdb::ObjectStub* s : block.entities) {
            if (s->kind != tabdb::Kind::Insert || s->erased) continue;
            AcDbObjectPointer<AcDbBlockReference> ref(AcDbObjectId(s), AcDb::kForRead);
            if (!ref) continue;
            ++count;
            AcDbHandle h = ref->handle();
            char hex[17];
            h.getIntoAsciiBuffer(hex, sizeof hex);
            std::string blockName = "(missing block)";
            AcDbObjectPointer<AcDbBlockTableRecord> rec(ref->blockTableRecord(), AcDb::kForRead);
            if (rec) {
                const char* n = nullptr;
                if (rec->getName(n) == Acad::eOk) blockName = n;
            }
            (void)rec.close();
            AcutString layer(ref->layer());
            AcGePoint3d p = ref->position();
            AcGeScale3d sc = ref->scaleFactors();
            out << "BLOCK REFERENCE  Handle = " << hex << "\n"
                << "  Block name: " << blockName << "\n"
                << "  Space: " << block.name << "\n"
                << "  Layer: " << layer.get() << "\n"
                << "  Insertion point: X=" << dist(p.x) << "  Y=" << dist(p.y) << "  Z=" << dist(p.z) << "\n"
                << "  Rotation: " << ang(ref->rotation()) << "\n"
                << "  Scale factors: X=" << dist(sc.sx) << "  Y=" << dist(sc.sy) << "  Z=" << dist(sc.sz) << "\n";
            std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
            for (it->start(); !it->done(); it->step()) {
                AcDbAttribute* att = nullptr;
                if (ref->openAttribute(att, it->objectId(), AcDb::kForRead) != Acad::eOk) continue;
                AcDbObjectPointer<AcDbAttribute> holder;
                holder.adopt(att);
                AcutString tag(att->tag()), text(att->textString());
                out << "  Attribute " << tag.get() << ": " << text.get() << "\n";
            }
        }
    }
    out << count << " block reference" << (count == 1 ? "" : "s") << "\n";
}
