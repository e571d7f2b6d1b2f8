#include "host/db/DrawingStore.h"

#include "host/db/EntityCodec.h"
#include "host/db/FieldLinks.h"
#include "host/db/ObjectAccess.h"
#include "host/db/ObjectTags.h"
#include "host/dxf/DxfStructure.h"
#include "host/dxf/DxfTokenizer.h"
#include "platform/Prefetch.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <utility>

namespace hostdb {

namespace {

// A hostile file must not make the stubs outgrow memory: about 70 bytes per object.
constexpr std::size_t kMaxObjects = 10'000'000;
constexpr std::uint32_t kNoBlock = std::numeric_limits<std::uint32_t>::max();

const std::pair<const char*, int> kHeaderTemplate[hHeaderCount] = {
    {"$ACADVER", 1}, {"$DWGCODEPAGE", 3}, {"$HANDSEED", 5},  {"$LUNITS", 70},         {"$LUPREC", 70},
    {"$AUNITS", 70}, {"$AUPREC", 70},     {"$ANGBASE", 50},  {"$ANGDIR", 70},         {"$TILEMODE", 70},
    {"$CLAYER", 8},  {"$DIMZIN", 70},     {"$HANDLING", 70}, {"$FINGERPRINTGUID", 2},
};

// Sorts, stably, what is in order but for a few stretches, as a file's handles are
// (writers number objects as they write them, tables and objects added later aside):
// its ascending runs are merged pairwise, which costs a pass per halving of their
// number rather than a full sort.
template <class T, class Less>
void sortRuns(std::vector<T>& v, Less less) {
    std::vector<std::size_t> bounds{0};
    for (std::size_t i = 1; i < v.size(); ++i)
        if (less(v[i], v[i - 1])) bounds.push_back(i);
    bounds.push_back(v.size());
    while (bounds.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
            if (r + 2 < bounds.size()) {
                std::inplace_merge(v.begin() + static_cast<std::ptrdiff_t>(bounds[r]),
                                   v.begin() + static_cast<std::ptrdiff_t>(bounds[r + 1]),
                                   v.begin() + static_cast<std::ptrdiff_t>(bounds[r + 2]), less);
            }
            merged.push_back(bounds[std::min(r + 2, bounds.size() - 1)]);
        }
        bounds = std::move(merged);
    }
}

Kind kindOfEntity(std::string_view type) {
    if (type == "INSERT") return Kind::Insert;
    if (type == "ATTRIB") return Kind::Attrib;
    if (type == "ATTDEF") return Kind::Attdef;
    if (type == "TEXT") return Kind::Text;
    if (type == "SEQEND") return Kind::SeqEnd;
    return Kind::Entity;
}

// Blocks are found by name case-insensitively, and R12 files spell the two spaces
// with a '$'.
std::string blockKey(std::string_view name) {
    std::string key = platform::upper(name);
    if (key == "$MODEL_SPACE") key = "*MODEL_SPACE";
    if (key == "$PAPER_SPACE") key = "*PAPER_SPACE";
    return key;
}

// What a BLOCK says of its block, its name as the file spells it.
struct BlockHead {
    std::string_view name;
    int flags = 0;
    AcGePoint3d origin;
};

BlockHead readBlockHead(std::string_view text, const dxf::ObjectRange& block) {
    BlockHead head;
    dxf::OwnTags tags(text, block);
    for (dxf::Tag t; tags.next(t);) {
        switch (t.code) {
        case 2:  // an empty group 2 names nothing; the first that names something counts
            if (head.name.empty()) head.name = t.value;
            break;
        case 70:
            head.flags = static_cast<int>(dxf::toInteger(t.value));
            break;
        case 10:
            head.origin.x = dxf::toDouble(t.value);
            break;
        case 20:
            head.origin.y = dxf::toDouble(t.value);
            break;
        case 30:
            head.origin.z = dxf::toDouble(t.value);
            break;
        default:
            break;
        }
    }
    return head;
}

// A LAYOUT object: its name and the block record of its paper space.
LayoutInfo readLayout(std::string_view text, const dxf::ObjectRange& layout) {
    LayoutInfo info;
    dxf::Tokenizer tok(text.substr(0, layout.end), layout.bodyBegin, dxf::ValueCheck::Trust);
    for (dxf::Tag t; tok.next(t);) {
        if (t.code == 1 && info.name.empty()) info.name = std::string(t.value);
        if (t.code == 340) dxf::parseHandle(t.value, info.blockHandle);
    }
    return info;
}

}  // namespace

void checkTextSize(std::uint64_t bytes) {
    if (bytes >= kNoOffset)
        throw dxf::DxfError(1, "the file has " + std::to_string(bytes) +
                                   " bytes; a drawing must be smaller than 4 GB (" + std::to_string(kNoOffset) +
                                   " bytes)");
}

bool isEntityKind(Kind k) {
    return k == Kind::Insert || k == Kind::Attrib || k == Kind::Attdef || k == Kind::Text || k == Kind::SeqEnd ||
           k == Kind::Entity;
}

// Reading a drawing: one stub per object the database models, placed in its table,
// block or space as the file's structure is read, then the names, references and
// handles that need the whole file.
class DrawingStore::Loader {
public:
    explicit Loader(DrawingStore& store)
        : store_(store),
          reader_(store.binary_ ? dxf::StructureReader(store.text_, store.binary_->tags)
                                : dxf::StructureReader(store.text_)) {}
    void load();

private:
    void placeObject(const dxf::ObjectRange& o);
    void placeInTables(const dxf::ObjectRange& o);
    void placeInBlocks(const dxf::ObjectRange& o);
    void placeEntity(ObjectStub* s, const dxf::ObjectRange& o);
    void beginBlock(ObjectStub* begin, const dxf::ObjectRange& o);
    void endSection(const dxf::Section& section);
    void readHeader(const dxf::Section& section);
    void requireSeqEnd(std::size_t line) const;
    ObjectStub* newStub(Kind kind, const dxf::ObjectRange& o);
    void takeFacts(ObjectStub* s, const dxf::ObjectRange& o);

    void keepRecordsWithoutBlock();
    void nameDynamicBlocks();
    std::uint32_t ensureSpace(const char* key, const char* name);
    void placeTopLevelEntities();
    void markLayouts();
    void nameLayers();
    void listReferences();
    void numberObjects();
    void renumberRepeatedHandles(std::uint64_t& seed);
    void noteMissingHandle(const dxf::ObjectRange& o);
    bool isBeforeR13() const;

    DrawingStore& store_;
    dxf::StructureReader reader_;
    std::string_view tableName_;             // the TABLE being read; it lasts until its ENDTAB
    ObjectStub* parent_ = nullptr;           // INSERT or POLYLINE whose attributes or vertices follow
    std::uint32_t currentBlock_ = kNoBlock;  // the block being defined in BLOCKS
    // Named BLOCK_RECORD entries in file order, and the first of each name.
    std::vector<std::pair<std::string_view, ObjectStub*>> records_;
    std::unordered_map<std::string, ObjectStub*> recordByName_;  // upper-case name
    std::vector<ObjectStub*> topLevel_;                          // the ENTITIES section, model and paper space
    // Each reference with its block, or the name it gives when no block had the name
    // when it was read (blocks are never taken away while reading, so one found then
    // is the one found at the end).
    struct InsertOf {
        ObjectStub* stub;
        std::uint32_t block;
        std::string_view name;
    };
    std::vector<InsertOf> inserts_;
    std::uint64_t maxHandle_ = 0;
    // The handle of every object that has one, modelled or not, to find repeats.
    std::vector<std::uint64_t> handles_;
    std::uint64_t maxAnyHandle_ = 0;
    // Objects of the file without a handle that the drawing's version gives one.
    struct Missing {
        std::size_t begin, headEnd;
    };
    std::vector<Missing> missing_;
};

void DrawingStore::Loader::load() {
    store_.blockTable_ = store_.newStub(Kind::BlockTable, npos);
    store_.layerTable_ = store_.newStub(Kind::LayerTable, npos);
    while (reader_.nextSection()) {
        for (dxf::ObjectRange o; reader_.nextObject(o);) {
            placeObject(o);
            store_.bytes_.noteRead(o.begin, o.end - o.begin);
        }
        endSection(reader_.section());
    }
    if (!reader_.sawEof()) {
        // An empty file is no drawing; one that stops after a section may be the start
        // of one, cut off (a full disk, a transfer that broke).
        if (!reader_.sawSection())
            throw dxf::DxfError(1, store_.text_.empty() ? "the file is empty; a drawing ends with 0/EOF at least"
                                                        : "the file holds only blank lines, no drawing");
        store_.mayBeTruncated_ = true;
        // Whatever the save writes is whole, and says so.
        std::size_t codeEnd = store_.text_.find('\n', reader_.section().endsecBegin);
        store_.eofAt_ = codeEnd == std::string::npos
                            ? store_.text_.size()
                            : tagAt(store_.text_, static_cast<std::uint32_t>(codeEnd + 1)).tagEnd;
        store_.warnings_.push_back("line " + std::to_string(reader_.line()) +
                                   ": the file ends after the ENDSEC at line " +
                                   std::to_string(reader_.section().endsecLine) +
                                   " without 0/EOF; it may be truncated, and what was cut off is not in the drawing");
    }
    if (reader_.trailingAt() != npos)
        store_.warnings_.push_back(
            "line " + std::to_string(reader_.trailingLine()) +
            ": what follows 0/EOF is no part of the drawing; it is not read, and a save keeps it");
    if (!store_.ensureCodec().knowsCodePage()) {
        const HeaderVar& cp = store_.header_[hCodePage];
        store_.warnings_.push_back("line " + std::to_string(cp.line) + ": the drawing's code page " +
                                   dxf::quoteInput(cp.value) +
                                   " ($DWGCODEPAGE) is not known on this machine; its texts are read as ANSI_1252, "
                                   "and changed texts are written with \\U+XXXX for every character beyond ASCII");
    }
    keepRecordsWithoutBlock();
    store_.modelIndex_ = ensureSpace("*MODEL_SPACE", "*Model_Space");
    store_.paperIndex_ = ensureSpace("*PAPER_SPACE", "*Paper_Space");
    placeTopLevelEntities();
    markLayouts();
    nameLayers();
    listReferences();
    numberObjects();
    // Files list their objects mostly by ascending handle: nearly sorted already.
    std::stable_sort(store_.unmodelled_.begin(), store_.unmodelled_.end(),
                     [](const auto& a, const auto& b) { return a.handle < b.handle; });
    nameDynamicBlocks();
}

// A file of a version before dynamic blocks (R2000, R2004) keeps a dynamic block as
// an anonymous block (*U17) and its name in the record's extended data
// (AcDbDynamicBlockTrueName), from which the host gives the block its name back, as
// a program of the later version does on opening the file. The file is not
// changed: its record keeps the anonymous name, which still finds the block too.
void DrawingStore::Loader::nameDynamicBlocks() {
    for (BlockInfo& block : store_.blocks_) {
        if (block.isLayout || block.name.size() < 2 || block.name[0] != '*' || !block.record ||
            block.record->kind != Kind::BlockRecord || block.record->begin == npos)
            continue;
        const std::vector<dxf::Tag> tags = tagsIn(store_, {block.record->begin, block.record->end});
        std::string trueName;
        for (const dxf::Tag& t : extendedDataOf(tags, "AcDbDynamicBlockTrueName"))
            if (t.code == 1000) {
                trueName = store_.codec().decode(t.value);
                break;
            }
        if (trueName.empty() || trueName[0] == '*' || store_.blockByName_.count(blockKey(trueName))) continue;
        store_.blockByName_.emplace(blockKey(trueName), block.record->blockIndex());
        block.name = std::move(trueName);
        block.flags &= ~1;
    }
}

void DrawingStore::Loader::placeObject(const dxf::ObjectRange& o) {
    if (o.handle != 0) {
        handles_.push_back(o.handle);
        maxAnyHandle_ = std::max(maxAnyHandle_, o.handle);
    }
    noteMissingHandle(o);
    switch (reader_.section().kind) {
    case dxf::SectionKind::Tables:
        placeInTables(o);
        break;
    case dxf::SectionKind::Blocks:
        placeInBlocks(o);
        break;
    case dxf::SectionKind::Entities:
        placeEntity(newStub(kindOfEntity(o.type), o), o);
        break;
    case dxf::SectionKind::Objects:
        if (o.type == "LAYOUT") store_.layouts_.push_back(readLayout(store_.text_, o));
        if (store_.namedObjects_ == 0 && o.handle != 0 && o.type == "DICTIONARY") store_.namedObjects_ = o.handle;
        // The store's text is shorter than 4 GB (checkTextSize).
        if (o.handle != 0)
            store_.unmodelled_.push_back(
                {o.handle, static_cast<std::uint32_t>(o.begin), static_cast<std::uint32_t>(o.end)});
        break;
    default:
        break;
    }
}

ObjectStub* DrawingStore::Loader::newStub(Kind kind, const dxf::ObjectRange& o) {
    ObjectStub* s = store_.newStub(kind, o.begin);
    s->end = o.end;
    if (o.end - o.begin >= ObjectStub::kNotAt) return s;
    auto at = [&](dxf::NotedCode n) {
        const std::uint32_t v = o.valueAt[n];
        return v == 0 ? ObjectStub::kNotAt : static_cast<std::uint16_t>(v);
    };
    if (kind == Kind::Attrib && !o.embeddedData) {
        s->preLocated = true;
        s->textAt = at(dxf::nText);
        s->tagAt = at(dxf::nName);
    } else if (kind == Kind::Insert && !o.extrusion) {
        // Everything a reference's decoder looks for but its extrusion direction, which
        // few have: those are located when opened.
        static constexpr dxf::NotedCode kNoted[ReferencePlaces::kCount] = {dxf::nLayer,  dxf::nName,   dxf::nX,
                                                                           dxf::nY,      dxf::nZ,      dxf::nScaleX,
                                                                           dxf::nScaleY, dxf::nScaleZ, dxf::nRotation};
        ReferencePlaces& places = store_.referencePlaces_.emplace_back();
        for (std::size_t i = 0; i < ReferencePlaces::kCount; ++i) places.at[i] = at(kNoted[i]);
        places.ownBytes =
            static_cast<std::uint16_t>(std::min<std::size_t>(o.end - o.begin, ReferencePlaces::kAheadBytes));
        s->preLocated = true;
        s->setPlacesIndex(static_cast<std::uint32_t>(store_.referencePlaces_.size() - 1));
    }
    return s;
}

// Only the layer and block tables are modelled; their entries get stubs.
void DrawingStore::Loader::placeInTables(const dxf::ObjectRange& o) {
    if (o.type == "TABLE") {
        tableName_ = *o.name;
        ObjectStub* table = tableName_ == "LAYER"          ? store_.layerTable_
                            : tableName_ == "BLOCK_RECORD" ? store_.blockTable_
                                                           : nullptr;
        if (!table) return;
        table->begin = o.begin;
        table->end = o.end;
        takeFacts(table, o);
    } else if (o.type == "ENDTAB") {
        tableName_ = {};
    } else if (tableName_ == "LAYER" && o.type == "LAYER") {
        ObjectStub* layer = newStub(Kind::LayerRecord, o);
        layer->owner = store_.layerTable_;
        layer->setLayerIndex(static_cast<std::uint32_t>(store_.layerNames_.size()));
        store_.layerNames_.emplace_back(o.name.value_or(std::string_view()));  // decoded with the others
        store_.layers_.push_back(layer);
        takeFacts(layer, o);
    } else if (tableName_ == "BLOCK_RECORD" && o.type == "BLOCK_RECORD") {
        ObjectStub* record = newStub(Kind::BlockRecord, o);
        if (o.name) {
            records_.emplace_back(*o.name, record);
            recordByName_.emplace(platform::upper(*o.name), record);
        }
        takeFacts(record, o);
    }
}

void DrawingStore::Loader::placeInBlocks(const dxf::ObjectRange& o) {
    if (o.type == "BLOCK") {
        if (currentBlock_ != kNoBlock)
            throw dxf::DxfError(o.firstLine, "BLOCK inside block '" + store_.blocks_[currentBlock_].name + "'");
        ObjectStub* begin = newStub(Kind::BlockBegin, o);
        parent_ = nullptr;
        takeFacts(begin, o);
        beginBlock(begin, o);
    } else if (o.type == "ENDBLK") {
        if (currentBlock_ == kNoBlock) throw dxf::DxfError(o.firstLine, "ENDBLK without BLOCK");
        requireSeqEnd(o.firstLine);
        ObjectStub* end = newStub(Kind::BlockEnd, o);
        end->owner = store_.blocks_[currentBlock_].record;
        currentBlock_ = kNoBlock;
        parent_ = nullptr;
        takeFacts(end, o);
    } else {
        placeEntity(newStub(kindOfEntity(o.type), o), o);
    }
}

// A BLOCK opens the definition of the block its record names (R13 and later); without
// a record, as in R12 files, the BLOCK is the record.
void DrawingStore::Loader::beginBlock(ObjectStub* begin, const dxf::ObjectRange& o) {
    BlockHead head = readBlockHead(store_.text_, o);
    // The block is known to be complete only now that the next object begins; a
    // fault of the whole block names the line the reader has reached.
    std::size_t line = reader_.line();
    ObjectStub* record = nullptr;
    if (auto it = recordByName_.find(platform::upper(head.name)); it != recordByName_.end()) record = it->second;
    if (record) {
        if (record->hasBlock()) throw dxf::DxfError(line, "block '" + std::string(head.name) + "' is defined twice");
        currentBlock_ = store_.addBlock(head.name, record, line);
        begin->owner = record;
    } else {
        begin->kind = Kind::BlockRecord;
        currentBlock_ = store_.addBlock(head.name, begin, line);
    }
    BlockInfo& block = store_.blocks_[currentBlock_];
    block.blockBegin = begin;
    block.flags = head.flags;
    block.origin = head.origin;
}

void DrawingStore::Loader::placeEntity(ObjectStub* s, const dxf::ObjectRange& o) {
    if (parent_ && (s->kind == Kind::Attrib || o.type == "VERTEX" || s->kind == Kind::SeqEnd)) {
        // Attributes and vertices belong to the reference or polyline before them.
        s->owner = parent_;
        if (parent_->childCount == 0) parent_->firstChild = s->index;
        ++parent_->childCount;
        if (parent_->kind == Kind::Insert && parent_->preLocated)
            store_.referencePlaces_[parent_->placesIndex()].ownBytes = static_cast<std::uint16_t>(
                std::min<std::size_t>(s->end - parent_->begin, ReferencePlaces::kAheadBytes));
        if (s->kind == Kind::SeqEnd) parent_ = nullptr;
    } else {
        requireSeqEnd(o.firstLine);
        parent_ = (s->kind == Kind::Insert || o.type == "POLYLINE") ? s : nullptr;
        if (reader_.section().kind == dxf::SectionKind::Blocks) {
            if (currentBlock_ == kNoBlock)
                throw dxf::DxfError(o.firstLine + 1, "entity " + std::string(o.type) + " outside a block definition");
            s->owner = store_.blocks_[currentBlock_].record;
            store_.blocks_[currentBlock_].entities.push_back(s);
        } else {
            topLevel_.push_back(s);
        }
    }
    takeFacts(s, o);
    if (s->kind == Kind::Insert && o.name) {
        // The block is looked up while its name is at hand, when the block is known
        // already (as it is for every reference after the BLOCKS section): looking
        // names up at the end would read the text again, all over it.
        std::uint32_t block = kNoBlock;
        if (store_.codec_) {
            auto it = store_.blockByName_.find(blockKey(store_.codec_->decode(*o.name)));
            if (it != store_.blockByName_.end()) block = it->second;
        }
        inserts_.push_back({s, block, block == kNoBlock ? *o.name : std::string_view()});
    }
}

// Attributes that began must end with SEQEND before anything else follows.
void DrawingStore::Loader::requireSeqEnd(std::size_t line) const {
    if (parent_ && parent_->kind == Kind::Insert && parent_->childCount > 0)
        throw dxf::DxfError(line, "the attributes of a block reference end without SEQEND");
}

void DrawingStore::Loader::takeFacts(ObjectStub* s, const dxf::ObjectRange& o) {
    // A table that appears twice keeps the handle it was given first.
    if (s->handle == 0) {
        if (const auto& bad = o.malformedHandle)
            throw dxf::DxfError(bad->line, "group code 5 expects a hexadecimal handle, got '" +
                                               std::string(bad->value.substr(0, 40)) + "'");
        s->handle = o.handle;
        maxHandle_ = std::max(maxHandle_, o.handle);
    }
    if (o.paperSpace) s->paperSpace = true;
}

void DrawingStore::Loader::endSection(const dxf::Section& section) {
    if (section.kind == dxf::SectionKind::Header) {
        readHeader(section);
        store_.headerEnd_ = section.endsecBegin;
        if (!store_.ensureCodec().keepsAscii()) {
            const HeaderVar& cp = store_.header_[hCodePage];
            throw dxf::DxfError(cp.line, "the drawing's code page '" + cp.value.substr(0, 40) +
                                             "' ($DWGCODEPAGE) does not keep ASCII characters as ASCII; "
                                             "drawings in such a code page (EBCDIC) cannot be read");
        }
    }
    requireSeqEnd(section.endsecLine);
    if (section.kind == dxf::SectionKind::Blocks && currentBlock_ != kNoBlock)
        throw dxf::DxfError(section.endsecLine, "block '" + store_.blocks_[currentBlock_].name + "' has no ENDBLK");
    parent_ = nullptr;
}

// The variables the database uses, each at its first occurrence: the tag after its
// group 9 is its value when the group code is the one the variable has.
void DrawingStore::Loader::readHeader(const dxf::Section& section) {
    std::string_view text = std::string_view(store_.text_).substr(0, section.endsecBegin);
    dxf::Tokenizer tok(text, section.bodyBegin, dxf::ValueCheck::Trust);
    store_.headerIntKnown_ = 0;  // the values change under headerInt
    HeaderVar* var = nullptr;
    bool valueSeen = false;
    for (dxf::Tag t; tok.next(t);) {
        if (t.code == 0 || t.code == 999) continue;  // a stray object's type or a comment, no variable's tag
        if (t.code == 9) {
            var = nullptr;
            valueSeen = false;
            for (HeaderVar& v : store_.header_)
                if (t.value == v.name && v.vBegin == npos) var = &v;
        } else if (var && !valueSeen) {
            valueSeen = true;
            if (t.code == var->code) {
                var->vBegin = t.valueBegin;
                var->vEnd = t.valueBegin + t.value.size();
                // The tokenizer counts lines from the section's body, which starts
                // after the SECTION tag and the name tag.
                var->line = section.line + 3 + t.line + 1;
                var->value = std::string(t.value);
            }
        }
    }
}

// Block records listed in BLOCK_RECORD but without a BLOCK are kept as empty blocks.
void DrawingStore::Loader::keepRecordsWithoutBlock() {
    for (auto& [name, record] : records_)
        if (!record->hasBlock()) store_.addBlock(name, record, 0);
}

std::uint32_t DrawingStore::Loader::ensureSpace(const char* key, const char* name) {
    if (auto it = store_.blockByName_.find(key); it != store_.blockByName_.end()) return it->second;
    return store_.addBlock(name, store_.newStub(Kind::BlockRecord, npos), 0);
}

void DrawingStore::Loader::placeTopLevelEntities() {
    for (ObjectStub* s : topLevel_) {
        BlockInfo& b = store_.blocks_[s->paperSpace ? store_.paperIndex_ : store_.modelIndex_];
        s->owner = b.record;
        b.entities.push_back(s);
    }
}

void DrawingStore::Loader::markLayouts() {
    for (auto& b : store_.blocks_) {
        std::string key = platform::upper(b.name);
        b.isLayout = key.rfind("*MODEL_SPACE", 0) == 0 || key.rfind("*PAPER_SPACE", 0) == 0;
    }
}

// Layer names as the module sees them; a drawing always has layer 0.
void DrawingStore::Loader::nameLayers() {
    for (ObjectStub* layer : store_.layers_) {
        std::string& name = store_.layerNames_[layer->layerIndex()];
        name = store_.codec_->decode(name);
        store_.layerByName_.emplace(platform::upper(name), layer);
    }
    if (store_.layerByName_.count("0")) return;
    ObjectStub* zero = store_.newStub(Kind::LayerRecord, npos);
    zero->owner = store_.layerTable_;
    zero->setLayerIndex(static_cast<std::uint32_t>(store_.layerNames_.size()));
    store_.layerNames_.emplace_back("0");
    store_.layers_.push_back(zero);
    store_.layerByName_.emplace("0", zero);
}

// Each INSERT is listed under the block it names.
void DrawingStore::Loader::listReferences() {
    for (const InsertOf& insert : inserts_) {
        std::uint32_t block = insert.block;
        if (block == kNoBlock) {
            auto it = store_.blockByName_.find(blockKey(store_.codec_->decode(insert.name)));
            if (it != store_.blockByName_.end()) block = it->second;
        }
        if (block == kNoBlock) continue;
        store_.blocks_[block].references.push_back(insert.stub);
        if (insert.stub->preLocated) store_.referencePlaces_[insert.stub->placesIndex()].block = block;
    }
    // Each reference indexed on load knows the next of its block, for prefetchAfter.
    for (const BlockInfo& b : store_.blocks_)
        for (std::size_t i = 0; i + 1 < b.references.size(); ++i) {
            if (!b.references[i]->preLocated) continue;
            ReferencePlaces& places = store_.referencePlaces_[b.references[i]->placesIndex()];
            const ObjectStub& next = *b.references[i + 1];
            if (next.preLocated) {
                places.nextBytes = store_.referencePlaces_[next.placesIndex()].ownBytes;
            } else {
                std::size_t end = next.end;
                if (next.childCount) end = store_.stubs_[next.firstChild + next.childCount - 1].end;
                if (next.begin == npos || end == npos || end < next.begin) continue;
                places.nextBytes =
                    static_cast<std::uint16_t>(std::min<std::size_t>(end - next.begin, ReferencePlaces::kAheadBytes));
            }
            places.next = next.index;
            places.nextBegin = static_cast<std::uint32_t>(next.begin);
        }
    store_.referencePlaces_.shrink_to_fit();
}

bool DrawingStore::Loader::isBeforeR13() const {
    const std::string& v = store_.header_[hAcadVer].value;
    return !(v.size() >= 6 && v.compare(0, 2, "AC") == 0 && v.compare(0, 6, "AC1012") >= 0);
}

// A drawing without handles (as Release 12 and earlier could be saved) is made whole
// on save rather than kept without: a workbook linked to the drawing names its
// references by handle, and handles that exist only in memory would follow file
// order, so that another program's edit could make a row name another reference.
// Each entity gets one, and from R13 on each BLOCK and block record; $HANDSEED and,
// before R13, $HANDLING = 1 say so. Before R13 tables, their entries and BLOCK get
// none, as the writers of that time leave them when handles are on (they are found
// by name); from R13 on tables and entries are left as the file has them.
void DrawingStore::Loader::noteMissingHandle(const dxf::ObjectRange& o) {
    if (o.handle != 0 || o.malformedHandle) return;  // a malformed one is refused where it matters
    const dxf::SectionKind section = reader_.section().kind;
    const bool isOld = isBeforeR13();
    const bool needs = (section == dxf::SectionKind::Blocks && !(isOld && o.type == "BLOCK")) ||
                       section == dxf::SectionKind::Entities ||
                       (section == dxf::SectionKind::Tables && o.type == "BLOCK_RECORD" && !isOld);
    if (needs) missing_.push_back({o.begin, o.headEnd});
}

// Objects without a handle get one from the seed, in file order, as the host numbers
// them; they keep theirs in the file from the next save on.
void DrawingStore::Loader::numberObjects() {
    HeaderVar& handSeed = store_.header_[hHandSeed];
    std::uint64_t seed = 0;
    if (!handSeed.value.empty()) dxf::parseHandle(handSeed.value, seed);
    // New handles must not meet one of an object the database does not model either.
    seed = std::max({seed, maxHandle_ + 1, maxAnyHandle_ + 1});
    const std::uint64_t fileSeed = seed;
    renumberRepeatedHandles(seed);
    if (!missing_.empty()) {
        std::unordered_map<std::size_t, ObjectStub*> stubAt;
        for (auto& s : store_.stubs_)
            if (s.handle == 0 && s.begin != npos) stubAt.emplace(s.begin, &s);
        store_.addedHandles_.reserve(missing_.size());
        for (const Missing& m : missing_) {
            const std::uint64_t h = seed++;
            ObjectStub* stub = nullptr;
            if (auto it = stubAt.find(m.begin); it != stubAt.end()) {
                stub = it->second;
                stub->handle = h;
                stub->handleAdded = true;
            }
            store_.addedHandles_.push_back({m.headEnd, h, stub});
        }
        std::vector<Missing>().swap(missing_);
        if (isBeforeR13() && store_.headerInt(hHandling, 0) != 1) {
            HeaderVar& handling = store_.header(hHandling);
            handling.value = "1";
            handling.dirty = true;
        }
    }
    // A seed is added where the file had none only for handles it did not have either.
    if (seed != fileSeed && (handSeed.vBegin != npos || !store_.addedHandles_.empty())) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(seed));
        handSeed.value = buf;
        handSeed.dirty = true;
    }
    // Tables and records the file gives no handle keep theirs in memory only; they
    // come after the seed written back, so the next open numbers them the same way.
    store_.memoryHandlesFrom_ = seed;
    for (auto& s : store_.stubs_)
        if (s.handle == 0) s.handle = seed++;
}

// A handle names one object; a file that gives one to several (a faulty writer, an
// edit by hand) has the later ones renumbered from the seed, as an audit does.
// Whatever refers to the handle keeps meaning the first object, which keeps it.
void DrawingStore::Loader::renumberRepeatedHandles(std::uint64_t& seed) {
    sortRuns(handles_, std::less<std::uint64_t>());
    std::vector<std::uint64_t> repeated;
    for (std::size_t i = 1; i < handles_.size(); ++i)
        if (handles_[i] == handles_[i - 1] && (repeated.empty() || repeated.back() != handles_[i]))
            repeated.push_back(handles_[i]);
    std::vector<std::uint64_t>().swap(handles_);
    if (repeated.empty()) return;
    auto isRepeated = [&](std::uint64_t h) { return std::binary_search(repeated.begin(), repeated.end(), h); };
    std::unordered_map<std::size_t, ObjectStub*> stubAt;
    for (auto& s : store_.stubs_)
        if (s.begin != npos && isRepeated(s.handle)) stubAt.emplace(s.begin, &s);
    struct First {
        std::size_t line;
        std::string type;
    };
    std::unordered_map<std::uint64_t, First> firstOf;
    // Listed one by one up to a point: a file repeating one handle a million times
    // needs no million lines to say so.
    constexpr std::size_t kListed = 20;
    std::size_t count = 0, firstUnlistedLine = 0;
    auto hex = [](std::uint64_t h) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(h));
        return std::string(buf);
    };
    dxf::StructureReader again =
        store_.binary_ ? dxf::StructureReader(store_.text_, store_.binary_->tags) : dxf::StructureReader(store_.text_);
    while (again.nextSection()) {
        for (dxf::ObjectRange o; again.nextObject(o);) {
            if (o.handle == 0 || !isRepeated(o.handle)) continue;
            auto [first, isFirst] =
                firstOf.try_emplace(o.handle, First{o.handleLine, std::string(o.type.substr(0, 40))});
            if (isFirst) continue;
            const std::uint64_t fresh = seed++;
            if (auto it = stubAt.find(o.begin); it != stubAt.end()) it->second->handle = fresh;
            store_.handleRewrites_.push_back({o.handleValueBegin, fresh});
            if (++count == kListed + 1) firstUnlistedLine = o.handleLine;
            if (count <= kListed)
                store_.warnings_.push_back(
                    "line " + std::to_string(o.handleLine) + ": the " + std::string(o.type.substr(0, 40)) +
                    " has handle " + hex(o.handle) + ", which the " + first->second.type + " at line " +
                    std::to_string(first->second.line) + " has; it now has handle " + hex(fresh) + " (what refers to " +
                    hex(o.handle) + " keeps meaning the " + first->second.type + ")");
        }
    }
    if (count > kListed)
        store_.warnings_.push_back("line " + std::to_string(firstUnlistedLine) + ": this object and " +
                                   std::to_string(count - kListed - 1) +
                                   " more after it repeat an earlier object's handle and have new ones");
}

DrawingStore::DrawingStore(hostbytes::DrawingBytes bytes) : bytes_(std::move(bytes)) {
    // Binary files are converted to text, and their bytes kept for a save, as read.
    if (bytes_.isMapped() && dxf::isBinaryDxf(bytes_.text()))
        bytes_ = hostbytes::DrawingBytes(std::string(bytes_.text()));
    text_ = bytes_.text();
    open();
    // Reading the drawing went through all of its text once; what is read again is
    // faulted in again as it is.
    bytes_.release();
}

void DrawingStore::open() {
    for (int i = 0; i < hHeaderCount; ++i) {
        header_[i].name = kHeaderTemplate[i].first;
        header_[i].code = kHeaderTemplate[i].second;
    }
    checkTextSize(text_.size());
    if (!dxf::isBinaryDxf(text_)) {
        load();
        return;
    }
    // A binary file is read into tag text, checked as it is converted; messages name
    // its bytes.
    binary_ = std::make_unique<dxf::BinarySource>();
    std::string tags = dxf::binaryToText(text_, *binary_);
    binary_->bytes = std::move(bytes_).intoString();
    bytes_ = hostbytes::DrawingBytes(std::move(tags));
    text_ = bytes_.text();
    saveFormat_ = dxf::DxfFormat::Binary;
    try {
        checkTextSize(text_.size());
        load();
    } catch (const dxf::DxfError& e) {
        const std::string what = e.what();
        const std::size_t colon = what.find(": ");
        throw dxf::DxfError(dxf::BytePlace{binary_->byteOfLine(text_, e.line())},
                            binary_->placesInBytes(text_, colon == std::string::npos ? what : what.substr(colon + 2)));
    }
    for (std::string& w : warnings_) w = binary_->placesInBytes(text_, std::move(w));
    binary_->tags = dxf::TagIndex{};  // needed to read the drawing only
}

void DrawingStore::load() {
    Loader loader(*this);
    // Line ending and code layout of the file, for any tag a save adds.
    firstTagAt_ = text_.compare(0, dxf::kUtf8Bom.size(), dxf::kUtf8Bom) == 0 ? dxf::kUtf8Bom.size() : 0;
    if (auto nl = text_.find('\n'); nl != std::string::npos) {
        if (nl > 0 && text_[nl - 1] == '\r') eol_ = "\r\n";
        padCodes_ = text_.size() > firstTagAt_ && text_[firstTagAt_] == ' ';
    }
    loader.load();
}

DrawingStore::~DrawingStore() {
    // With nothing open, only changed objects are alive: their list spares a walk
    // over every stub of a large drawing.
    if (openCount_ == 0) {
        for (ObjectStub* s : changed_) delete std::exchange(s->live, nullptr);
        return;
    }
    for (auto& s : stubs_) delete s.live;
}

ObjectStub* DrawingStore::newStub(Kind kind, std::size_t begin) {
    if (stubs_.size() >= kMaxObjects)
        throw dxf::DxfError(0, "the drawing holds more than " + std::to_string(kMaxObjects) + " objects");
    ObjectStub& s = stubs_.emplace_back();
    s.store = this;
    s.kind = kind;
    s.begin = begin;
    s.index = static_cast<std::uint32_t>(stubs_.size() - 1);
    return &s;
}

// Names are kept as the module sees them; the code page is known once the header is read.
const dxf::TextCodec& DrawingStore::ensureCodec() {
    if (!codec_) codec_ = std::make_unique<dxf::TextCodec>(header_[hAcadVer].value, header_[hCodePage].value);
    return *codec_;
}

std::uint32_t DrawingStore::addBlock(std::string_view rawName, ObjectStub* record, std::size_t line) {
    std::string name = ensureCodec().decode(rawName);
    std::string key = blockKey(name);
    if (blockByName_.count(key)) throw dxf::DxfError(line, "block '" + name + "' is defined twice");
    BlockInfo info;
    info.name = key == "*MODEL_SPACE" ? "*Model_Space" : key == "*PAPER_SPACE" ? "*Paper_Space" : name;
    info.record = record;
    auto index = static_cast<std::uint32_t>(blocks_.size());
    record->setBlockIndex(index);
    record->owner = blockTable_;
    blocks_.push_back(std::move(info));
    blockByName_.emplace(std::move(key), index);
    return index;
}

const BlockInfo& DrawingStore::blockOf(const ObjectStub* record) const {
    static const BlockInfo noBlock;
    return record->hasBlock() ? blocks_[record->blockIndex()] : noBlock;
}

// The index is made when first asked for: an export, which finds objects by their
// place in a block, never is. Handles kept in memory only are larger than every
// other and ascend in stub order: put last, they add no run to sort, and the file's
// few runs are merged with little memory besides (a merge borrows as much as its
// shorter run).
void DrawingStore::indexHandles() const {
    handleIndex_.reserve(stubs_.size());
    for (const ObjectStub& s : stubs_)
        if (s.handle < memoryHandlesFrom_) handleIndex_.emplace_back(s.handle, const_cast<ObjectStub*>(&s));
    for (const ObjectStub& s : stubs_)
        if (s.handle >= memoryHandlesFrom_) handleIndex_.emplace_back(s.handle, const_cast<ObjectStub*>(&s));
    sortRuns(handleIndex_, [](const auto& a, const auto& b) { return a.first < b.first; });
}

ObjectStub* DrawingStore::byHandle(std::uint64_t h) const {
    std::call_once(handleIndexMade_, [this] { indexHandles(); });
    auto it = std::lower_bound(handleIndex_.begin(), handleIndex_.end(), h,
                               [](const auto& e, std::uint64_t v) { return e.first < v; });
    if (it != handleIndex_.end() && it->first == h) return it->second;
    if (laterStubs_.empty()) return nullptr;
    auto later = laterStubs_.find(h);
    return later == laterStubs_.end() ? nullptr : later->second;
}

ObjectStub* DrawingStore::stubOfHandle(std::uint64_t h) {
    if (ObjectStub* s = byHandle(h)) return s;
    auto it = std::lower_bound(unmodelled_.begin(), unmodelled_.end(), h,
                               [](const UnmodelledObject& o, std::uint64_t v) { return o.handle < v; });
    if (it == unmodelled_.end() || it->handle != h) return nullptr;
    ObjectStub* s = nullptr;
    try {
        s = newStub(Kind::Object, it->begin);
    } catch (const dxf::DxfError&) {
        return nullptr;  // as many objects as a drawing may have
    }
    s->end = it->end;
    s->handle = h;
    laterStubs_.emplace(h, s);
    return s;
}

std::optional<DrawingStore::TextRange> DrawingStore::objectRange(std::uint64_t h) const {
    if (const ObjectStub* s = byHandle(h)) {
        if (s->begin == npos || s->erased) return std::nullopt;
        return TextRange{s->begin, s->end};
    }
    auto it = std::lower_bound(unmodelled_.begin(), unmodelled_.end(), h,
                               [](const UnmodelledObject& o, std::uint64_t v) { return o.handle < v; });
    if (it == unmodelled_.end() || it->handle != h) return std::nullopt;
    return TextRange{it->begin, it->end};
}

ObjectStub* DrawingStore::findBlock(std::string_view name) const {
    auto it = blockByName_.find(blockKey(name));
    if (it == blockByName_.end()) return nullptr;
    ObjectStub* r = blocks_[it->second].record;
    return r->erased ? nullptr : r;
}

ObjectStub* DrawingStore::findLayer(std::string_view name) const {
    auto it = layerByName_.find(platform::upper(name));
    return it == layerByName_.end() || it->second->erased ? nullptr : it->second;
}

int DrawingStore::readHeaderInt(HeaderId id, int fallback) const {
    const std::string& v = header_[id].value;
    if (v.empty()) return fallback;  // not kept: callers differ in what an absent value means
    headerInts_[id] = static_cast<int>(dxf::toInteger(v));
    headerIntKnown_ |= 1u << id;
    return headerInts_[id];
}

void DrawingStore::setHeader(HeaderId id, std::string value) {
    if (header_[id].value == value && (header_[id].vBegin != npos || header_[id].dirty)) return;
    if (undo_.isRecording()) undo_.recordHeader(id);
    headerIntKnown_ &= ~(1u << id);
    header_[id].value = std::move(value);
    header_[id].dirty = true;
    modified_ = true;
}

void DrawingStore::prefetchAfter(const ObjectStub& reference) const {
    // Stubs of an object and its attributes follow each other; a reference has a
    // handful of attributes.
    constexpr std::size_t kStubsAhead = 8;
    const ReferencePlaces& places = referencePlaces_[reference.placesIndex()];
    // The reference's own text and its attributes' too, read right after: prefetched
    // when the one before was opened, their lines may have left the nearest caches,
    // and the addresses the TLB, since.
    platform::prefetch(text_.data() + reference.begin, places.ownBytes);
    if (places.next == ReferencePlaces::kNoNext) return;
    const std::string_view stubs = stubs_.bytesFrom(places.next, kStubsAhead);
    platform::prefetch(stubs.data(), stubs.size());
    platform::prefetch(text_.data() + places.nextBegin, places.nextBytes);
}

void DrawingStore::noteReadFrom(const std::string& path, const platform::FileStamp& version) {
    versionFile_ = path;
    version_ = version;
    if (mayBeTruncated_) truncatedFile_ = path;
}

void DrawingStore::noteSavedTo(const std::string& path, const platform::FileStamp& version) {
    versionFile_ = path;
    version_ = version;
    if (path == truncatedFile_) truncatedFile_.clear();
}

void DrawingStore::noteChanged(ObjectStub* stub) {
    if (!stub->changed) changed_.push_back(stub);
    stub->changed = true;
    modified_ = true;
}

std::string DrawingStore::tagText(int code, std::string_view value) const {
    char buf[16];
    if (padCodes_)
        std::snprintf(buf, sizeof buf, "%3d", code);
    else
        std::snprintf(buf, sizeof buf, "%d", code);
    std::string s = buf;
    s += eol_;
    s += value;
    s += eol_;
    return s;
}

void DrawingStore::write(const std::function<void(std::string_view)>& sink) const {
    if (saveFormat_ == dxf::DxfFormat::Ascii) {
        writeText(sink);
        return;
    }
    try {
        const int codeBytes = binary_ ? binary_->codeBytes : dxf::binaryCodeBytesFor(header_[hAcadVer].value);
        dxf::BinaryWriter writer(sink, codeBytes, binary_.get(), text_);
        writeText([&](std::string_view s) { writer.put(s); });
        writer.finish();
    } catch (const dxf::BinaryWriteError& e) {
        throw UnwritableValue(e.what());
    }
}

void DrawingStore::writeText(const std::function<void(std::string_view)>& sink) const {
    std::vector<Patch> patches;
    for (int i = 0; i < hHeaderCount; ++i) {
        const HeaderVar& v = header_[i];
        if (!v.dirty) continue;
        if (v.vBegin != npos) {
            patches.push_back({v.vBegin, v.vEnd, v.value});
        } else {
            std::string add = tagText(9, v.name) + tagText(v.code, v.value);
            if (headerEnd_ != npos)
                patches.push_back({headerEnd_, headerEnd_, add});
            else
                patches.push_back({firstTagAt_, firstTagAt_,
                                   tagText(0, "SECTION") + tagText(2, "HEADER") + add + tagText(0, "ENDSEC")});
        }
    }
    for (const auto& s : stubs_) {
        if (s.begin == npos) continue;
        if (s.erased) patches.push_back({s.begin, s.end, {}});
    }
    for (const AddedHandle& a : addedHandles_) {
        if (a.stub && a.stub->erased) continue;
        // Right after the object's head: "0 / TYPE / 5 / handle".
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(a.handle));
        patches.push_back({a.at, a.at, tagText(5, buf)});
    }
    if (mayBeTruncated_) {
        const bool isLineEnded = eofAt_ > 0 && text_[eofAt_ - 1] == '\n';
        patches.push_back({eofAt_, eofAt_, (isLineEnded ? std::string() : eol_) + tagText(0, "EOF")});
    }
    for (const HandleRewrite& r : handleRewrites_) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(r.handle));
        patches.push_back({r.vBegin, tagAt(text_, static_cast<std::uint32_t>(r.vBegin)).vEnd, buf});
    }
    bool fieldsRemoved = false;
    for (const ObjectStub* s : changed_) {
        if (s->erased || !s->live) continue;
        const ObjectData& data = *ObjectAccess::data(s->live);
        collectPatches(*this, *s, data, patches);
        fieldsRemoved = fieldsRemoved || !data.removedFields.empty();
    }
    // The drawing's list of fields counts those that went.
    if (fieldsRemoved) collectFieldList(*this, patches);
    std::stable_sort(patches.begin(), patches.end(), [](const Patch& a, const Patch& b) { return a.begin < b.begin; });
    std::size_t pos = 0;
    std::string_view all(text_);
    for (const Patch& p : patches) {
        if (p.begin < pos) continue;  // inside a range already dropped
        sink(all.substr(pos, p.begin - pos));
        sink(p.text);
        pos = p.end;
    }
    sink(all.substr(pos));
}

}  // namespace hostdb
