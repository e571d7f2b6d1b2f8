// Inside the database: the DXF text a drawing was read from, one small stub per
// object (its byte range in that text, handle, owner, open state) and the decoded
// values of objects that are open or changed. Saving copies the text and patches in
// only the values that changed.
#pragma once

#include "host/bytes/DrawingBytes.h"
#include "host/db/AcDbObject.h"
#include "host/db/AcGe.h"
#include "host/db/UndoHistory.h"
#include "host/dxf/DxfBinary.h"
#include "host/dxf/DxfCodePage.h"
#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class AcDbDatabase;

namespace hostdb {

constexpr std::size_t npos = std::numeric_limits<std::size_t>::max();
// Decoded objects keep offsets into the text in 32 bits, this value meaning "absent",
// so a drawing's text must be shorter than it.
constexpr std::uint32_t kNoOffset = std::numeric_limits<std::uint32_t>::max();
// Refuses (dxf::DxfError on line 1) a text too long for those offsets. A file's size
// is checked before it is read, so that an oversized file is not loaded first.
void checkTextSize(std::uint64_t bytes);

class DrawingStore;

enum class Kind : std::uint8_t {
    BlockTable,
    LayerTable,
    BlockRecord,
    LayerRecord,
    BlockBegin,
    BlockEnd,
    Insert,
    Attrib,
    Attdef,
    Text,
    SeqEnd,
    Entity,
    // An object of the OBJECTS section, which the database does not model (a field,
    // a dictionary): its stub is made when an id of it is first asked for, and it
    // opens as a plain AcDbObject.
    Object
};
bool isEntityKind(Kind k);

struct ObjectStub {
    DrawingStore* store = nullptr;
    std::uint64_t handle = 0;
    std::size_t begin = npos, end = npos;  // the object's own tags in the source text
    ObjectStub* owner = nullptr;
    AcDbObject* live = nullptr;    // decoded object while open or changed (owned by the store)
    std::uint32_t firstChild = 0;  // INSERT/POLYLINE: stub index of the first attribute/vertex
    std::uint32_t childCount = 0;
    std::uint32_t index = 0;
    std::uint16_t readers = 0;
    // Attributes without a multi-line text: where their text and tag values sit, from
    // `begin` (kNotAt: absent), as the reading of the file found them, so that opening
    // one to read those two needs no pass over its tags. `preLocated` says they are
    // known, which they are of attributes shorter than 64 KB. References shorter than
    // that without an extrusion direction are preLocated too: every place of their
    // values is in the store's list (DrawingStore::referencePlaces).
    static constexpr std::uint16_t kNotAt = 0xFFFF;
    std::uint16_t textAt = kNotAt, tagAt = kNotAt;
    Kind kind = Kind::Entity;
    // One bit each: a drawing has a stub per object, hundreds of thousands of them.
    bool writer : 1 = false;
    bool erased : 1 = false;
    bool handleAdded : 1 = false;  // handle given on open; its tag is written on save
    bool paperSpace : 1 = false;
    bool changed : 1 = false;  // has values to write on save
    bool preLocated : 1 = false;
    bool undoRecorded : 1 = false;  // its state before the open undo group's change is kept

    // Block records: the store's BlockInfo of their block. A record without a name
    // has none; the block table does not list it.
    bool hasBlock() const { return kind == Kind::BlockRecord && tableIndex_ != kNoIndex; }
    std::uint32_t blockIndex() const { return tableIndex_; }
    void setBlockIndex(std::uint32_t i) { tableIndex_ = i; }
    // Layer records: the layer's name in the store's list of names.
    std::uint32_t layerIndex() const { return tableIndex_; }
    void setLayerIndex(std::uint32_t i) { tableIndex_ = i; }
    // References indexed on load (preLocated): their places in the store's list.
    std::uint32_t placesIndex() const { return tableIndex_; }
    void setPlacesIndex(std::uint32_t i) { tableIndex_ = i; }

private:
    static constexpr std::uint32_t kNoIndex = std::numeric_limits<std::uint32_t>::max();
    // One field for all three, as `kind` says: a record is either a block's or a
    // layer's, and neither is a reference.
    std::uint32_t tableIndex_ = kNoIndex;
};

// The stubs of a drawing, which keep their addresses as more are added: in chunks of
// a thousand, so that the hundreds of thousands of a large drawing cost a few hundred
// allocations rather than one per handful.
class StubList {
public:
    std::size_t size() const { return size_; }
    ObjectStub& operator[](std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
    const ObjectStub& operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
    // The stubs from i to the end of i's chunk (at most `count`) as bytes, none read.
    std::string_view bytesFrom(std::size_t i, std::size_t count) const {
        const ObjectStub* first = chunks_[i / kChunk].get() + i % kChunk;
        return {reinterpret_cast<const char*>(first), std::min(count, kChunk - i % kChunk) * sizeof(ObjectStub)};
    }
    ObjectStub& emplace_back() {
        if (size_ == chunks_.size() * kChunk) chunks_.push_back(std::make_unique<ObjectStub[]>(kChunk));
        return (*this)[size_++];
    }

    template <class List, class Stub>
    class Iterator {
    public:
        Iterator(List* list, std::size_t i) : list_(list), i_(i) {}
        Stub& operator*() const { return (*list_)[i_]; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator!=(const Iterator& o) const { return i_ != o.i_; }

    private:
        List* list_;
        std::size_t i_;
    };
    Iterator<StubList, ObjectStub> begin() { return {this, 0}; }
    Iterator<StubList, ObjectStub> end() { return {this, size_}; }
    Iterator<const StubList, const ObjectStub> begin() const { return {this, 0}; }
    Iterator<const StubList, const ObjectStub> end() const { return {this, size_}; }

private:
    static constexpr std::size_t kChunk = 1024;
    std::vector<std::unique_ptr<ObjectStub[]>> chunks_;
    std::size_t size_ = 0;
};

// Where the values of a reference indexed on load sit, from its stub's `begin`
// (ObjectStub::kNotAt: absent): its layer, block, position, scale and rotation, the
// values of kReferenceFields in that order (ObjectData.h). Three hundred thousand
// references cost 5 MB this way.
struct ReferencePlaces {
    static constexpr std::size_t kCount = 9;
    static constexpr std::uint32_t kNoNext = std::numeric_limits<std::uint32_t>::max();
    std::uint16_t at[kCount];
    // The reference after this one in its block's list, as read: its stub index, and
    // where its text and its attributes' begin and how many bytes they take (at most
    // kAheadBytes). Reading it needs neither of its stubs first.
    static constexpr std::uint16_t kAheadBytes = 4096;
    std::uint16_t nextBytes = 0;
    // The same of this reference: the bytes of its text and its attributes'.
    std::uint16_t ownBytes = 0;
    std::uint32_t next = kNoNext;
    std::uint32_t nextBegin = 0;
    // The block its name gives (an index of blocks()), as findBlock finds it, kNoBlock
    // for none: references cannot be given another block, nor blocks another name.
    static constexpr std::uint32_t kNoBlock = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t block = kNoBlock;
};

struct BlockInfo {
    std::string name;  // as the host names it (model and paper space canonical)
    ObjectStub* record = nullptr;
    ObjectStub* blockBegin = nullptr;  // the BLOCK entity (same as record in R12 files)
    int flags = 0;
    AcGePoint3d origin;
    bool isLayout = false;
    std::vector<ObjectStub*> entities;
    std::vector<ObjectStub*> references;
};

// One header variable the database reads or writes.
struct HeaderVar {
    const char* name = "";
    int code = 0;
    std::size_t vBegin = npos, vEnd = npos;
    std::size_t line = 0;  // of the value as read
    std::string value;     // as read (or as set)
    bool dirty = false;
};

enum HeaderId {
    hAcadVer,
    hCodePage,
    hHandSeed,
    hLunits,
    hLuprec,
    hAunits,
    hAuprec,
    hAngbase,
    hAngdir,
    hTilemode,
    hClayer,
    hDimzin,
    hHandling,
    hFingerprintGuid,
    hHeaderCount
};

struct LayoutInfo {
    std::string name;
    std::uint64_t blockHandle = 0;
};

class DrawingStore {
public:
    // Parses the file's bytes, ASCII or binary DXF (throws dxf::DxfError naming the
    // line, or in a binary file the byte). A mapping stays while the store lasts
    // (the tag text of a binary file is held instead).
    explicit DrawingStore(hostbytes::DrawingBytes bytes);
    ~DrawingStore();

    // The database the store belongs to, set once by it.
    AcDbDatabase* database() const { return database_; }
    void setDatabase(AcDbDatabase* database) { database_ = database; }
    const std::string& fileName() const { return fileName_; }
    void setFileName(std::string path) { fileName_ = std::move(path); }
    // Whether the drawing changed since it was read or last saved.
    bool isModified() const { return modified_; }
    void setModified(bool modified) { modified_ = modified; }

    // The drawing's tags as ASCII DXF text (a binary file's as read into text).
    std::string_view text() const { return text_; }
    // Where the text lies: a mapping's residency, and the writing of its unchanged
    // stretches on save. Reads of the text are noted there (DrawingBytes::noteRead).
    const hostbytes::DrawingBytes& bytes() const { return bytes_; }
    // The form the file was read in, and the one a save writes (the same unless chosen).
    dxf::DxfFormat sourceFormat() const { return binary_ ? dxf::DxfFormat::Binary : dxf::DxfFormat::Ascii; }
    dxf::DxfFormat saveFormat() const { return saveFormat_; }
    void setSaveFormat(dxf::DxfFormat format) { saveFormat_ = format; }
    const dxf::TextCodec& codec() const { return *codec_; }

    ObjectStub* byHandle(std::uint64_t h) const;
    // Where the object with this handle lies in the text: a stub's own tags, or one
    // of the OBJECTS section the database does not model (dictionaries, records,
    // the data of dynamic blocks and fields), which the host reads from the text.
    // Null when the drawing has no such object with a place in the text.
    struct TextRange {
        std::size_t begin, end;
    };
    std::optional<TextRange> objectRange(std::uint64_t h) const;
    // The stub of the object with this handle: a modelled object's, or for one of the
    // OBJECTS section a stub of kind Object made when first asked for (byHandle finds
    // it from then on), so that it has an id. Null when the drawing has no such
    // object, or no more stubs can be made.
    ObjectStub* stubOfHandle(std::uint64_t h);
    // The named object dictionary (the first dictionary of the OBJECTS section,
    // which begins with it); 0 when the drawing has none.
    std::uint64_t namedObjectDictionary() const { return namedObjects_; }
    ObjectStub* stubAt(std::uint32_t i) { return &stubs_[i]; }
    std::size_t stubCount() const { return stubs_.size(); }
    ObjectStub* blockTable() { return blockTable_; }
    ObjectStub* layerTable() { return layerTable_; }
    ObjectStub* modelSpace() { return blocks_[modelIndex_].record; }
    ObjectStub* paperSpace() { return blocks_[paperIndex_].record; }
    std::vector<BlockInfo>& blocks() { return blocks_; }
    // A record without a block (no name in the file) reads as an empty block.
    const BlockInfo& blockOf(const ObjectStub* record) const;
    const std::string& layerName(const ObjectStub* layer) const { return layerNames_[layer->layerIndex()]; }
    const std::vector<ObjectStub*>& layers() const { return layers_; }
    ObjectStub* findBlock(std::string_view name) const;
    // The record of the block a reference indexed on load names, as findBlock of
    // its name finds it, without decoding the name; null when the reading of the file
    // found none (or the record is erased).
    ObjectStub* blockOfReference(const ObjectStub& reference) const {
        const std::uint32_t b = referencePlaces_[reference.placesIndex()].block;
        if (b == ReferencePlaces::kNoBlock) return nullptr;
        ObjectStub* r = blocks_[b].record;
        return r->erased ? nullptr : r;
    }
    ObjectStub* findLayer(std::string_view name) const;
    const std::vector<LayoutInfo>& layouts() const { return layouts_; }

    const ReferencePlaces& referencePlaces(std::uint32_t i) const { return referencePlaces_[i]; }
    // A reference indexed on load was opened: its own text and its attributes', and
    // the text and the stubs of the next reference of its block and of that one's
    // attributes are prefetched now, so that a walk over a block's references, which
    // lie apart in the file between those of other blocks, does not wait on memory
    // for each. Only a hint: nothing is read.
    void prefetchAfter(const ObjectStub& reference) const;

    const HeaderVar& header(HeaderId id) const { return header_[id]; }
    // The variable to change in place: what headerInt read of it is read again (so a
    // change through the reference must come before the next headerInt).
    HeaderVar& header(HeaderId id) {
        headerIntKnown_ &= ~(1u << id);
        return header_[id];
    }
    // The variable as an integer, `fallback` when the drawing lacks it.
    int headerInt(HeaderId id, int fallback) const {
        if (headerIntKnown_ >> id & 1u) return headerInts_[id];
        return readHeaderInt(id, fallback);
    }
    void setHeader(HeaderId id, std::string value);

    std::size_t openCount() const { return openCount_; }
    void noteOpen(int delta) { openCount_ += delta; }
    // The object is about to change (opened for write, or erased with its reference):
    // its state before is kept for undo, once per command. Objects never opened for
    // write cost nothing.
    void noteWrite(ObjectStub& stub) {
        if (!stub.undoRecorded && undo_.isRecording()) undo_.record(stub);
    }
    UndoHistory& undoHistory() { return undo_; }
    const UndoHistory& undoHistory() const { return undo_; }
    // Keeps a changed object alive until the drawing goes away.
    void noteChanged(ObjectStub* stub);

    // Writes the drawing in its save format: the source with every change patched in,
    // and the 0/EOF the source lacked, if it did, after its last ENDSEC. A drawing
    // read and written in binary keeps the source's bytes for every unchanged object.
    // Throws UnwritableValue (EntityCodec.h), before anything reaches the sink for a
    // value no DXF can hold, possibly after for one that binary DXF cannot.
    void write(const std::function<void(std::string_view)>& sink) const;

    // Line ending and code layout of the source, used for tags added on save.
    std::string tagText(int code, std::string_view value) const;

    // What reading repaired or doubts, each naming its line ("line 40: ..."): handles
    // that a later object repeated were given new ones, which a save writes; a text
    // without 0/EOF, which may have been cut off.
    const std::vector<std::string>& warnings() const { return warnings_; }
    bool mayBeTruncated() const { return mayBeTruncated_; }
    // The drawing was read from `path`, as `version` of it: a later save there
    // checks that the file is still that version, and may not go over it unasked
    // while mayBeTruncated().
    void noteReadFrom(const std::string& path, const platform::FileStamp& version);
    // The drawing was saved to `path`, which is `version` now and complete.
    void noteSavedTo(const std::string& path, const platform::FileStamp& version);
    // The version of `path` this drawing was last read from or saved as; none when
    // it was neither (or that version is unknown). A save there while someone else
    // has replaced the file since leaves theirs.
    std::optional<platform::FileStamp> versionOf(const std::string& path) const {
        if (path != versionFile_ || version_.size < 0) return std::nullopt;
        return version_;
    }
    // Whether `path` is the file the drawing was read from while that file may be
    // truncated, not saved to since: saving over it would replace whatever the cut
    // took with nothing.
    bool isTruncatedFile(const std::string& path) const { return !truncatedFile_.empty() && path == truncatedFile_; }

private:
    class Loader;  // builds the stubs from the file's structure
    void load();
    void writeText(const std::function<void(std::string_view)>& sink) const;
    int readHeaderInt(HeaderId id, int fallback) const;
    ObjectStub* newStub(Kind kind, std::size_t begin);
    const dxf::TextCodec& ensureCodec();
    std::uint32_t addBlock(std::string_view rawName, ObjectStub* record, std::size_t line);
    void open();
    AcDbDatabase* database_ = nullptr;
    std::string fileName_;
    bool modified_ = false;
    std::string truncatedFile_;
    std::string versionFile_;
    platform::FileStamp version_;
    // The text: a file mapped (an ASCII file large enough) or held; text_ is
    // bytes_.text(), kept at hand for the readers of the text.
    hostbytes::DrawingBytes bytes_;
    std::string_view text_;
    std::unique_ptr<dxf::BinarySource> binary_;  // the bytes of a binary file
    dxf::DxfFormat saveFormat_ = dxf::DxfFormat::Ascii;
    std::unique_ptr<dxf::TextCodec> codec_;
    StubList stubs_;
    // Every stub by handle (objects added later have none), made by the first
    // byHandle.
    mutable std::vector<std::pair<std::uint64_t, ObjectStub*>> handleIndex_;
    mutable std::once_flag handleIndexMade_;
    std::uint64_t memoryHandlesFrom_ = 0;  // handles kept in memory only begin here
    void indexHandles() const;

public:
    // The drawing's dynamic blocks (AcDbDynBlockReference.cpp): which block records
    // are their definitions and which anonymous blocks were made from them, read
    // from the text when first asked for, so that a walk over the references of a
    // drawing without any pays for it once rather than per reference.
    struct DynamicBlocks;
    const DynamicBlocks& dynamicBlocks() const;

private:
    // Shared, for its deleter: made where the index is, this header and the store's
    // own file need not know it.
    mutable std::shared_ptr<const DynamicBlocks> dynamicBlocks_;
    mutable std::once_flag dynamicBlocksMade_;
    // The index once made: asked for once per reference, it is had without the
    // cost of std::call_once (tens of nanoseconds) every time.
    mutable std::atomic<const DynamicBlocks*> dynamicBlocksReady_{nullptr};

    // The objects of the OBJECTS section, by handle (the first of a repeated one).
    struct UnmodelledObject {
        std::uint64_t handle;
        std::uint32_t begin, end;
    };
    std::vector<UnmodelledObject> unmodelled_;
    std::uint64_t namedObjects_ = 0;
    // Stubs of unmodelled objects made by stubOfHandle after the handle index was.
    std::unordered_map<std::uint64_t, ObjectStub*> laterStubs_;
    std::vector<BlockInfo> blocks_;
    std::unordered_map<std::string, std::uint32_t> blockByName_;  // upper-case name
    std::vector<ObjectStub*> layers_;
    std::vector<std::string> layerNames_;
    std::unordered_map<std::string, ObjectStub*> layerByName_;
    std::vector<LayoutInfo> layouts_;
    HeaderVar header_[hHeaderCount];
    // headerInt's values, read once: the unit settings are asked for with every
    // distance and angle formatted, several a reference. A bit per HeaderId says which
    // hold what the variable's text says now.
    mutable int headerInts_[hHeaderCount] = {};
    mutable std::uint32_t headerIntKnown_ = 0;
    std::vector<ReferencePlaces> referencePlaces_;
    std::size_t headerEnd_ = npos;  // offset of the HEADER section's ENDSEC
    std::size_t firstTagAt_ = 0;    // past a byte-order mark
    // Handles a save gives objects that had none, each after the object's type, in
    // file order.
    struct AddedHandle {
        std::size_t at;
        std::uint64_t handle;
        const ObjectStub* stub;  // when the database models the object
    };
    std::vector<AddedHandle> addedHandles_;
    std::uint32_t modelIndex_ = 0, paperIndex_ = 0;
    ObjectStub* blockTable_ = nullptr;
    ObjectStub* layerTable_ = nullptr;
    std::vector<ObjectStub*> changed_;
    // Handle values of the file replaced on save: objects that repeated an earlier
    // object's handle.
    struct HandleRewrite {
        std::size_t vBegin;
        std::uint64_t handle;
    };
    std::vector<HandleRewrite> handleRewrites_;
    std::vector<std::string> warnings_;
    bool mayBeTruncated_ = false;
    std::size_t eofAt_ = npos;  // where a save puts the 0/EOF the file lacked
    std::size_t openCount_ = 0;
    std::string eol_ = "\n";
    bool padCodes_ = false;
    // Last, so that it goes first: the states it keeps refer to the stubs.
    friend class UndoHistory;
    UndoHistory undo_{*this};
};

}  // namespace hostdb
