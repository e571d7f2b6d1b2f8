#include "host/db/DrawingFile.h"

#include "host/bytes/DrawingBytes.h"
#include "host/db/AcUnits.h"
#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"
#include "host/db/UnitFormat.h"
#include "host/dxf/DxfTokenizer.h"
#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>

namespace {

// A drawing's text is held with 32-bit offsets, which bounds the file (checkTextSize
// says by how much and words the refusal).
constexpr std::uint64_t kMaxDrawingBytes = std::uint64_t{UINT32_MAX} - 1;

// Reads the file while measuring the line in progress, so that a line longer than any
// drawing's is refused as soon as it passes the bound, without reading the rest. Only
// the ends of each piece are looked at: lines are counted, to name the long one, once
// it is found. Binary DXF has no lines; the store bounds its texts as it reads them.
bool readDrawingFile(const std::string& path, std::string& out, std::string& error, platform::FileStamp& stamp) {
    std::size_t lineBegin = 0;  // offset in `out` of the line in progress
    std::uint64_t declared = 0;
    bool isBinary = false, isLineTooLong = false;
    platform::FileStatus read = platform::readFilePieces(
        path, kMaxDrawingBytes,
        [&](std::string_view piece) {
            // The size is a hint only: reserving costs address space, not memory, until
            // bytes arrive, and saves copying a large drawing as it grows.
            if (out.empty()) out.reserve(static_cast<std::size_t>(declared));
            const bool wasShort = out.size() < 18;
            const std::size_t pieceAt = out.size();
            out.append(piece);
            if (wasShort && dxf::isBinaryDxf(out)) isBinary = true;
            if (isBinary) return true;
            // A piece is far shorter than the bound, so only a line running across
            // pieces can pass it: the one in progress, ended in this piece or not.
            const void* first = std::memchr(piece.data(), '\n', piece.size());
            const std::size_t endOfFirst =
                first ? pieceAt + static_cast<std::size_t>(static_cast<const char*>(first) - piece.data()) : out.size();
            // A "\r" of the line ending may still be counted here.
            isLineTooLong = endOfFirst - lineBegin > dxf::kMaxLineBytes + 1;
            if (first && !isLineTooLong) lineBegin = pieceAt + piece.rfind('\n') + 1;
            isLineTooLong = isLineTooLong || out.size() - lineBegin > dxf::kMaxLineBytes + 1;
            return !isLineTooLong;
        },
        &declared, &stamp);
    if (isLineTooLong) {
        const std::size_t line = 1 + static_cast<std::size_t>(std::count(
                                         out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lineBegin), '\n'));
        out.clear();
        error = path + ": " + dxf::lineTooLongError(line).what();
        return false;
    }
    if (read) return true;
    out.clear();
    if (read.error().step == platform::FileStep::tooLarge) {
        try {
            hostdb::checkTextSize(read.error().fileBytes);
        } catch (const dxf::DxfError& e) {
            error = path + ": " + e.what();
            return false;
        }
    }
    error = path + ": " + read.error().reason();
    return false;
}

}  // namespace

namespace {

// A store from its bytes, the failures of reading it said as the other reads say them.
DrawingOpenResult openStore(hostbytes::DrawingBytes bytes, std::string_view name) {
    DrawingOpenResult result;
    try {
        auto store = std::make_unique<hostdb::DrawingStore>(std::move(bytes));
        for (const std::string& w : store->warnings()) result.warnings.push_back(std::string(name) + ": " + w);
        result.database = std::make_unique<AcDbDatabase>(std::move(store));
    } catch (const dxf::DxfError& e) {
        result.error = std::string(name) + ": " + e.what();
    } catch (const std::bad_alloc&) {
        result.error = std::string(name) + ": not enough memory to read the drawing";
    }
    return result;
}

}  // namespace

DrawingOpenResult openDrawingFile(const std::string& path) {
    platform::FileStamp stamp;
    DrawingOpenResult r;
    // A large file is mapped rather than copied into memory where that is safe;
    // otherwise, or when the mapped text is refused (to say why the usual way), it is read.
    if (auto mapped = hostbytes::DrawingBytes::map(path, kMaxDrawingBytes, stamp))
        r = openStore(std::move(*mapped), path);
    if (!r.database) {
        std::string text, error;
        if (!readDrawingFile(path, text, error, stamp)) {
            DrawingOpenResult failed;
            failed.error = std::move(error);
            return failed;
        }
        r = openDrawingText(std::move(text), path);
    }
    if (r.database) {
        r.database->setFileName(path);
        r.database->store().noteReadFrom(path, stamp);
    }
    return r;
}

DrawingOpenResult openDrawingText(std::string text, std::string_view name) {
    return openStore(hostbytes::DrawingBytes(std::move(text)), name);
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
    auto failed = [&](const platform::FileError& e) {
        // A conflict says itself what became of both versions.
        if (e.step == platform::FileStep::changedOnDisk)
            return DrawingSaveResult{false, "could not save " + path + ": " + e.message()};
        // Past the rename the new drawing is in place; only its folder entry may not
        // have reached the disk.
        std::string state = e.step == platform::FileStep::syncFolder
                                ? "the drawing was written but may not survive a power failure"
                                : "the previous file is unchanged";
        return DrawingSaveResult{false, "could not save " + path + ": " + e.message() + "; " + state};
    };
    if (path.empty()) return {false, "could not save: the drawing has no file name"};
    platform::WriteOptions options;
    options.newFileMode = 0644;
    // The previous file becomes NAME.bak beside the file replaced (where a symbolic
    // link at the name leads), while NAME keeps its old content until the new content
    // replaces it in one rename.
    options.backupPathFor = [](const std::string& target) { return backupPathFor(target); };
    // Another session may have saved the file since this one read or saved it.
    options.unchangedSince = db.store().versionOf(path);
    platform::AtomicFile file;
    if (platform::FileStatus opened = file.open(path, options); !opened) return failed(opened.error());
    platform::FileStatus status;
    std::string pending;
    // Large stretches go straight out; small patches are gathered first.
    try {
        db.store().write([&](std::string_view s) {
            if (!status) return;
            if (s.size() >= 65536) {
                if (!pending.empty()) {
                    status = file.write(pending);
                    pending.clear();
                }
                // An unchanged stretch of the drawing's text may come from its file.
                if (status) status = db.store().bytes().writeRange(file, s);
            } else {
                pending.append(s);
                if (pending.size() >= 65536) {
                    status = file.write(pending);
                    pending.clear();
                }
            }
        });
    } catch (const hostdb::UnwritableValue& e) {
        // Nothing was written yet; the temporary goes with `file`.
        return DrawingSaveResult{false,
                                 "could not save " + path + ": " + e.what() + "; the previous file is unchanged"};
    }
    if (status && !pending.empty()) status = file.write(pending);
    if (status) status = file.commit();
    if (!status) return failed(status.error());
    db.store().noteSavedTo(path, file.written());
    db.setFileName(path);
    db.setModified(false);
    return {true, {}};
}

DrawingSaveResult saveDrawing(AcDbDatabase& db) { return saveDrawingAs(db, db.fileName()); }

void listBlockReferences(AcDbDatabase& db, std::ostream& out) {
    const units::UnitSettings u = units::settingsOf(db);
    auto dist = [&](double v) { return units::formatDistance(v, u.lunits, u.luprec, u.dimzin); };
    auto ang = [&](double v) { return units::formatAngle(v, u.aunits, u.auprec); };
    std::size_t count = 0;
    for (auto& block : db.store().blocks()) {
        if (block.record->erased) continue;
        for (hostdb::ObjectStub* s : block.entities) {
            if (s->kind != hostdb::Kind::Insert || s->erased) continue;
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
