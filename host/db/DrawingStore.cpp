#include "host/db/DrawingStore.h"

#include "host/db/ObjectData.h"
#include "host/dxf/DxfTokenizer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tabdb {

namespace {

// A hostile file must not make the stubs outgrow memory: about 70 bytes per object.
constexpr std::size_t kMaxObjects = 10'000'000;

const std::pair<const char*, int> kHeaderTemplate[hHeaderCount] = {
    {"$ACADVER", 1}, {"$DWGCODEPAGE", 3}, {"$HANDSEED", 5}, {"$LUNITS", 70}, {"$LUPREC", 70},
    {"$AUNITS", 70}, {"$AUPREC", 70}, {"$ANGBASE", 50}, {"$ANGDIR", 70}, {"$TILEMODE", 70},
    {"$CLAYER", 8}, {"$DIMZIN", 70},
};

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Kind kindOfEntity(std::string_view type) {
    if (type == "INSERT") return Kind::Insert;
    if (type == "ATTRIB") return Kind::Attrib;
    if (type == "ATTDEF") return Kind::Attdef;
    if (type == "TEXT") return Kind::Text;
    if (type == "SEQEND") return Kind::SeqEnd;
    return Kind::Entity;
}

}  // namespace

void checkTextSize(std::uint64_t bytes) {
    if (bytes >= kNoOffset)
        throw dxf::DxfError(1, "the file has " + std::to_string(bytes) + " bytes; a drawing must be smaller than 4 GB (" +
                                   std::to_string(kNoOffset) + " bytes)");
}

bool isEntityKind(Kind k) {
    return k == Kind::Insert || k == Kind::Attrib || k == Kind::Attdef || k == Kind::Text || k == Kind::SeqEnd ||
           k == Kind::Entity;
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

DrawingStore::DrawingStore(std::string text) : text_(std::move(text)) {
    for (int i = 0; i < hHeaderCount; ++i) {
        header_[i].name = kHeaderTemplate[i].first;
        header_[i].code = kHeaderTemplate[i].second;
    }
    parse();
}

DrawingStore::~DrawingStore() {
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

void DrawingStore::parse() {
    using dxf::DxfError;
    using dxf::Tag;
    if (dxf::isBinaryDxf(text_))
        throw DxfError(1, "binary DXF is not supported; save the drawing as ASCII DXF");
    checkTextSize(text_.size());
    // Line ending and code layout of the file, for any tag a save adds.
    if (auto nl = text_.find('\n'); nl != std::string::npos) {
        if (nl > 0 && text_[nl - 1] == '\r') eol_ = "\r\n";
        padCodes_ = !text_.empty() && text_[0] == ' ';
    }

    blockTable_ = newStub(Kind::BlockTable, npos);
    layerTable_ = newStub(Kind::LayerTable, npos);

    dxf::Tokenizer tok(text_);
    Tag t;
    enum class Sec { None, Header, Tables, Blocks, Entities, Objects, Other } sec = Sec::None;
    bool inSection = false, sawEof = false;
    std::size_t sectionLine = 0;
    std::string tableName;
    std::uint64_t maxHandle = 0;
    bool haveBlockRecords = false;
    std::vector<std::pair<std::string, ObjectStub*>> blockRecordsByName;  // BLOCK_RECORD entries

    // The object being read: its tags run until the next group 0.
    ObjectStub* cur = nullptr;
    std::string curType;
    int curVar = -1;  // header variable being read
    bool varValueSeen = false;
    ObjectStub* parent = nullptr;  // INSERT/POLYLINE whose attributes/vertices follow
    std::uint32_t currentBlock = UINT32_MAX;  // BLOCKS: block being defined
    LayoutInfo layout;
    bool inLayout = false;
    std::string pendingName;
    int pendingFlags = 0;
    AcGePoint3d pendingOrigin;
    std::vector<ObjectStub*> entitiesSection;
    bool inEmbedded = false;
    std::vector<ObjectStub*> insertStubs;  // each reference with the block name it gives
    std::vector<std::string_view> insertNames;

    // Names are kept as the module sees them; the code page is known once the header is read.
    auto ensureCodec = [&] {
        if (!codec_) codec_ = std::make_unique<dxf::TextCodec>(header_[hAcadVer].value, header_[hCodePage].value);
    };
    auto addBlock = [&](const std::string& rawName, ObjectStub* record, std::size_t line) -> std::uint32_t {
        ensureCodec();
        std::string name = codec_->decode(rawName);
        std::string key = upper(name);
        if (key == "$MODEL_SPACE") key = "*MODEL_SPACE";
        if (key == "$PAPER_SPACE") key = "*PAPER_SPACE";
        if (blockByName_.count(key)) throw DxfError(line, "block '" + name + "' is defined twice");
        BlockInfo info;
        info.name = key == "*MODEL_SPACE" ? "*Model_Space" : key == "*PAPER_SPACE" ? "*Paper_Space" : name;
        info.record = record;
        auto idx = static_cast<std::uint32_t>(blocks_.size());
        record->aux = idx;
        record->owner = blockTable_;
        blocks_.push_back(std::move(info));
        blockByName_.emplace(std::move(key), idx);
        return idx;
    };

    auto finishObject = [&](std::size_t endOffset) {
        if (!cur) return;
        cur->end = endOffset;
        if (sec == Sec::Blocks && cur->kind == Kind::BlockBegin) {
            // A BLOCK: find its record (R13 and later) or make the BLOCK the record.
            ObjectStub* record = nullptr;
            if (haveBlockRecords) {
                for (auto& [n, r] : blockRecordsByName)
                    if (iequals(n, pendingName)) { record = r; break; }
            }
            if (record) {
                if (record->aux != UINT32_MAX - 1) throw DxfError(tok.line(), "block '" + pendingName + "' is defined twice");
                currentBlock = addBlock(pendingName, record, tok.line());
                blocks_[currentBlock].blockBegin = cur;
                cur->owner = record;
            } else {
                cur->kind = Kind::BlockRecord;
                currentBlock = addBlock(pendingName, cur, tok.line());
                blocks_[currentBlock].blockBegin = cur;
            }
            blocks_[currentBlock].flags = pendingFlags;
            blocks_[currentBlock].origin = pendingOrigin;
        }
        cur = nullptr;
    };

    // Attributes that began must end with SEQEND before anything else follows.
    auto requireSeqEnd = [&](std::size_t line) {
        if (parent && parent->kind == Kind::Insert && parent->childCount > 0)
            throw DxfError(line, "the attributes of a block reference end without SEQEND");
    };
    auto placeEntity = [&](ObjectStub* s) {
        // Attributes and vertices belong to the reference or polyline before them.
        if (parent && (s->kind == Kind::Attrib || curType == "VERTEX" || s->kind == Kind::SeqEnd)) {
            s->owner = parent;
            if (parent->childCount == 0) parent->firstChild = s->index;
            ++parent->childCount;
            if (s->kind == Kind::SeqEnd) parent = nullptr;
            return;
        }
        requireSeqEnd(t.line);
        parent = (s->kind == Kind::Insert || curType == "POLYLINE") ? s : nullptr;
        if (sec == Sec::Blocks) {
            if (currentBlock == UINT32_MAX) throw DxfError(tok.line(), "entity " + curType + " outside a block definition");
            s->owner = blocks_[currentBlock].record;
            blocks_[currentBlock].entities.push_back(s);
        } else {
            entitiesSection.push_back(s);
        }
    };

    while (tok.next(t)) {
        if (t.code == 0) {
            finishObject(t.begin);
            inEmbedded = false;
            if (inLayout) {
                layouts_.push_back(layout);
                inLayout = false;
            }
            if (t.value == "SECTION") {
                if (inSection) throw DxfError(t.line, "SECTION inside the section that began at line " + std::to_string(sectionLine));
                Tag name;
                if (!tok.next(name) || name.code != 2) throw DxfError(tok.line(), "SECTION without its name (group code 2)");
                inSection = true;
                sectionLine = t.line;
                sec = name.value == "HEADER" ? Sec::Header : name.value == "TABLES" ? Sec::Tables
                    : name.value == "BLOCKS" ? Sec::Blocks : name.value == "ENTITIES" ? Sec::Entities
                    : name.value == "OBJECTS" ? Sec::Objects : Sec::Other;
                continue;
            }
            if (t.value == "ENDSEC") {
                if (!inSection) throw DxfError(t.line, "ENDSEC without SECTION");
                if (sec == Sec::Header) {
                    headerEnd_ = t.begin;
                    ensureCodec();
                }
                requireSeqEnd(t.line);
                if (sec == Sec::Blocks && currentBlock != UINT32_MAX)
                    throw DxfError(t.line, "block '" + blocks_[currentBlock].name + "' has no ENDBLK");
                inSection = false;
                sec = Sec::None;
                curVar = -1;
                parent = nullptr;
                continue;
            }
            if (t.value == "EOF") {
                if (inSection) throw DxfError(t.line, "EOF inside the section that began at line " + std::to_string(sectionLine));
                sawEof = true;
                Tag rest;
                if (tok.next(rest)) throw DxfError(rest.line, "data after EOF");
                break;
            }
            if (!inSection) throw DxfError(t.line, "group 0 '" + std::string(t.value.substr(0, 40)) + "' outside a section");
            switch (sec) {
            case Sec::Tables:
                if (t.value == "TABLE") {
                    Tag name;
                    if (!tok.next(name) || name.code != 2) throw DxfError(tok.line(), "TABLE without its name (group code 2)");
                    tableName = std::string(name.value);
                    if (tableName == "BLOCK_RECORD") haveBlockRecords = true;
                    cur = tableName == "LAYER" ? layerTable_ : tableName == "BLOCK_RECORD" ? blockTable_ : nullptr;
                    if (cur) { curType = "TABLE"; cur->begin = t.begin; }
                } else if (t.value == "ENDTAB") {
                    tableName.clear();
                } else if (tableName == "LAYER" && t.value == "LAYER") {
                    cur = newStub(Kind::LayerRecord, t.begin);
                    cur->owner = layerTable_;
                    cur->aux = UINT32_MAX;
                    curType = "LAYER";
                } else if (tableName == "BLOCK_RECORD" && t.value == "BLOCK_RECORD") {
                    cur = newStub(Kind::BlockRecord, t.begin);
                    cur->aux = UINT32_MAX;
                    curType = "BLOCK_RECORD";
                }
                break;
            case Sec::Blocks:
                if (t.value == "BLOCK") {
                    if (currentBlock != UINT32_MAX) throw DxfError(t.line, "BLOCK inside block '" + blocks_[currentBlock].name + "'");
                    cur = newStub(Kind::BlockBegin, t.begin);
                    curType = "BLOCK";
                    pendingName.clear();
                    pendingFlags = 0;
                    pendingOrigin = {};
                    parent = nullptr;
                } else if (t.value == "ENDBLK") {
                    if (currentBlock == UINT32_MAX) throw DxfError(t.line, "ENDBLK without BLOCK");
                    requireSeqEnd(t.line);
                    cur = newStub(Kind::BlockEnd, t.begin);
                    cur->owner = blocks_[currentBlock].record;
                    curType = "ENDBLK";
                    currentBlock = UINT32_MAX;
                    parent = nullptr;
                } else {
                    curType = std::string(t.value);
                    cur = newStub(kindOfEntity(t.value), t.begin);
                    placeEntity(cur);
                }
                break;
            case Sec::Entities:
                curType = std::string(t.value);
                cur = newStub(kindOfEntity(t.value), t.begin);
                placeEntity(cur);
                break;
            case Sec::Objects:
                if (t.value == "LAYOUT") {
                    inLayout = true;
                    layout = {};
                }
                break;
            default: break;
            }
            continue;
        }
        if (!inSection) throw DxfError(t.line, "group code " + std::to_string(t.code) + " outside a section");
        if (sec == Sec::Header) {
            if (t.code == 9) {
                curVar = -1;
                varValueSeen = false;
                for (int i = 0; i < hHeaderCount; ++i)
                    if (t.value == header_[i].name && header_[i].vBegin == npos) curVar = i;
            } else if (curVar >= 0 && !varValueSeen) {
                varValueSeen = true;
                HeaderVar& v = header_[curVar];
                if (t.code == v.code || (curVar == hHandSeed && t.code == 5)) {
                    v.vBegin = t.valueBegin;
                    v.vEnd = t.valueBegin + t.value.size();
                    v.value = std::string(t.value);
                }
            }
            continue;
        }
        if (inLayout) {
            if (t.code == 1 && layout.name.empty()) layout.name = std::string(t.value);
            if (t.code == 340) dxf::parseHandle(t.value, layout.blockHandle);
            continue;
        }
        if (!cur) continue;
        if (t.code == 101) inEmbedded = true;
        if (inEmbedded || t.code >= 1000) continue;
        switch (t.code) {
        case 5:
        case 105:
            if (cur->handle == 0) {
                std::uint64_t h;
                if (!dxf::parseHandle(t.value, h)) throw DxfError(t.line, "group code 5 expects a hexadecimal handle, got '" + std::string(t.value.substr(0, 40)) + "'");
                cur->handle = h;
                maxHandle = std::max(maxHandle, h);
            }
            break;
        case 2:
            if (cur->kind == Kind::LayerRecord && cur->aux == UINT32_MAX) {
                cur->aux = static_cast<std::uint32_t>(layerNames_.size());
                layerNames_.emplace_back(t.value);
            } else if (cur->kind == Kind::BlockRecord && curType == "BLOCK_RECORD" && cur->aux == UINT32_MAX) {
                blockRecordsByName.emplace_back(std::string(t.value), cur);
                cur->aux = UINT32_MAX - 1;  // named, not yet matched to its BLOCK
            } else if (curType == "BLOCK" && pendingName.empty()) {
                pendingName = std::string(t.value);
            } else if (cur->kind == Kind::Insert && insertNames.size() < insertStubs.size() + 1 &&
                       (insertStubs.empty() || insertStubs.back() != cur)) {
                insertStubs.push_back(cur);
                insertNames.emplace_back(t.value);
            }
            break;
        case 70:
            if (curType == "BLOCK") pendingFlags = static_cast<int>(dxf::toInteger(t.value));
            break;
        case 10: if (curType == "BLOCK") pendingOrigin.x = dxf::toDouble(t.value); break;
        case 20: if (curType == "BLOCK") pendingOrigin.y = dxf::toDouble(t.value); break;
        case 30: if (curType == "BLOCK") pendingOrigin.z = dxf::toDouble(t.value); break;
        case 67:
            if (dxf::toInteger(t.value) == 1) cur->paperSpace = true;
            break;
        default: break;
        }
    }
    finishObject(tok.offset());
    if (inSection) throw DxfError(tok.line(), "the file ends inside the section that began at line " + std::to_string(sectionLine));
    (void)sawEof;

    ensureCodec();

    // Block records listed in BLOCK_RECORD but without a BLOCK: keep them as empty blocks.
    for (auto& [name, rec] : blockRecordsByName)
        if (rec->aux == UINT32_MAX - 1) addBlock(name, rec, 0);
    for (auto& s : stubs_)
        if (s.kind == Kind::BlockRecord && s.aux == UINT32_MAX) s.aux = 0;  // unnamed record: never listed
    auto ensureSpace = [&](const char* key, const char* name) -> std::uint32_t {
        if (auto it = blockByName_.find(key); it != blockByName_.end()) return it->second;
        return addBlock(name, newStub(Kind::BlockRecord, npos), 0);
    };
    modelIndex_ = ensureSpace("*MODEL_SPACE", "*Model_Space");
    paperIndex_ = ensureSpace("*PAPER_SPACE", "*Paper_Space");
    for (ObjectStub* s : entitiesSection) {
        BlockInfo& b = blocks_[s->paperSpace ? paperIndex_ : modelIndex_];
        s->owner = b.record;
        b.entities.push_back(s);
    }
    for (auto& b : blocks_) {
        std::string key = upper(b.name);
        b.isLayout = key.rfind("*MODEL_SPACE", 0) == 0 || key.rfind("*PAPER_SPACE", 0) == 0;
    }
    // Layer names; a drawing always has layer 0.
    for (auto& s : stubs_) {
        if (s.kind != Kind::LayerRecord) continue;
        if (s.aux == UINT32_MAX) { s.aux = static_cast<std::uint32_t>(layerNames_.size()); layerNames_.emplace_back(); }
        layers_.push_back(&s);
        layerNames_[s.aux] = codec_->decode(layerNames_[s.aux]);
        layerByName_.emplace(upper(layerNames_[s.aux]), &s);
    }
    if (!layerByName_.count("0")) {
        ObjectStub* zero = newStub(Kind::LayerRecord, npos);
        zero->owner = layerTable_;
        zero->aux = static_cast<std::uint32_t>(layerNames_.size());
        layerNames_.emplace_back("0");
        layers_.push_back(zero);
        layerByName_.emplace("0", zero);
    }
    // References: each INSERT is listed under the block it names.
    std::string key;
    for (std::size_t i = 0; i < insertStubs.size(); ++i) {
        key = upper(codec_->decode(insertNames[i]));
        if (key == "$MODEL_SPACE") key = "*MODEL_SPACE";
        if (key == "$PAPER_SPACE") key = "*PAPER_SPACE";
        if (auto it = blockByName_.find(key); it != blockByName_.end())
            blocks_[it->second].references.push_back(insertStubs[i]);
    }

    // Objects without a handle get one from the seed, in file order, as the host
    // numbers them; entities keep theirs in the file from the next save on.
    std::uint64_t seed = 0;
    if (!header_[hHandSeed].value.empty()) dxf::parseHandle(header_[hHandSeed].value, seed);
    seed = std::max(seed, maxHandle + 1);
    seedBefore_ = seed;
    for (auto& s : stubs_) {
        if (s.handle != 0) continue;
        s.handleAdded = s.begin != npos && (isEntityKind(s.kind) || s.kind == Kind::BlockRecord ||
                                            s.kind == Kind::BlockBegin || s.kind == Kind::BlockEnd);
        if (s.handleAdded) s.handle = seed++;
    }
    bool seedMoved = seed != seedBefore_;
    // Tables and records the file gives no handle keep theirs in memory only; they
    // come after the seed written back, so the next open numbers them the same way.
    std::uint64_t memorySeed = seed;
    for (auto& s : stubs_)
        if (s.handle == 0) s.handle = memorySeed++;
    if (seedMoved && header_[hHandSeed].vBegin != npos) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(seed));
        header_[hHandSeed].value = buf;
        header_[hHandSeed].dirty = true;
    }
    seedBefore_ = seed;
    handleIndex_.reserve(stubs_.size());
    for (auto& s : stubs_) handleIndex_.emplace_back(s.handle, &s);
    std::stable_sort(handleIndex_.begin(), handleIndex_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

ObjectStub* DrawingStore::byHandle(std::uint64_t h) const {
    auto it = std::lower_bound(handleIndex_.begin(), handleIndex_.end(), h,
                               [](const auto& e, std::uint64_t v) { return e.first < v; });
    return it != handleIndex_.end() && it->first == h ? it->second : nullptr;
}

ObjectStub* DrawingStore::findBlock(std::string_view name) const {
    std::string key = upper(name);
    if (key == "$MODEL_SPACE") key = "*MODEL_SPACE";
    if (key == "$PAPER_SPACE") key = "*PAPER_SPACE";
    auto it = blockByName_.find(key);
    if (it == blockByName_.end()) return nullptr;
    ObjectStub* r = blocks_[it->second].record;
    return r->erased ? nullptr : r;
}

ObjectStub* DrawingStore::findLayer(std::string_view name) const {
    auto it = layerByName_.find(upper(name));
    return it == layerByName_.end() || it->second->erased ? nullptr : it->second;
}

int DrawingStore::headerInt(HeaderId id, int fallback) const {
    const std::string& v = header_[id].value;
    if (v.empty()) return fallback;
    return static_cast<int>(dxf::toInteger(v));
}

void DrawingStore::setHeader(HeaderId id, std::string value) {
    if (header_[id].value == value && (header_[id].vBegin != npos || header_[id].dirty)) return;
    header_[id].value = std::move(value);
    header_[id].dirty = true;
    modified = true;
}

void DrawingStore::noteChanged(ObjectStub* stub) {
    if (!stub->changed) changed_.push_back(stub);
    stub->changed = true;
    modified = true;
}

std::string DrawingStore::tagText(int code, std::string_view value) const {
    char buf[16];
    if (padCodes_) std::snprintf(buf, sizeof buf, "%3d", code);
    else std::snprintf(buf, sizeof buf, "%d", code);
    std::string s = buf;
    s += eol_;
    s += value;
    s += eol_;
    return s;
}

void DrawingStore::write(const std::function<void(std::string_view)>& sink) const {
    std::vector<Patch> patches;
    for (int i = 0; i < hHeaderCount; ++i) {
        const HeaderVar& v = header_[i];
        if (!v.dirty) continue;
        if (v.vBegin != npos) {
            patches.push_back({v.vBegin, v.vEnd, v.value});
        } else {
            std::string add = tagText(9, v.name) + tagText(v.code, v.value);
            if (headerEnd_ != npos) patches.push_back({headerEnd_, headerEnd_, add});
            else patches.push_back({0, 0, tagText(0, "SECTION") + tagText(2, "HEADER") + add + tagText(0, "ENDSEC")});
        }
    }
    for (const auto& s : stubs_) {
        if (s.begin == npos) continue;
        if (s.erased) {
            patches.push_back({s.begin, s.end, {}});
            continue;
        }
        if (s.handleAdded) {
            // Right after the entity's type line: "0 / TYPE / 5 / handle".
            std::size_t typeEnd = text_.find('\n', text_.find('\n', s.begin) + 1);
            typeEnd = typeEnd == std::string::npos ? text_.size() : typeEnd + 1;
            char buf[24];
            std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(s.handle));
            patches.push_back({typeEnd, typeEnd, tagText(5, buf)});
        }
    }
    for (const ObjectStub* s : changed_)
        if (!s->erased && s->live) collectPatches(*this, *s, *tabdb_access::data(s->live), patches);
    std::stable_sort(patches.begin(), patches.end(),
                     [](const Patch& a, const Patch& b) { return a.begin < b.begin; });
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

}  // namespace tabdb
