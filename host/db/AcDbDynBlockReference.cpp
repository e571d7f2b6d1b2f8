#include "host/db/AcDbDynBlockReference.h"

#include "host/db/AcDbEntities.h"
#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"
#include "host/db/ObjectData.h"
#include "host/db/ObjectTags.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// How a drawing keeps a dynamic block (all of it in unmodelled objects, read from
// the text here):
//
//   * the block's record has an extension dictionary whose ACAD_ENHANCEDBLOCK entry
//     is its evaluation graph (ACAD_EVALUATION_GRAPH); the graph's nodes, each
//     "91 index, 93 flags, 95 node id, 360 element", name its parameters, grips and
//     actions in the order the block's author made them;
//   * an anonymous block made for a reference whose values differ from the
//     defaults has extended data AcDbBlockRepBTag naming (1005) the dynamic block's
//     record;
//   * the reference's own extension dictionary holds AcDbBlockRepresentation, with
//     AcDbRepData (the dynamic block's record, 340) and AppDataCache /
//     ACAD_ENHANCEDBLOCKDATA: one XRECORD of values per graph node, keyed by the
//     node id in decimal.
//
// A drawing may hold any of it broken (another program's edit, a partial purge):
// whatever does not read as described leaves the reference a plain block's, or the
// parameter out, and nothing of it throws out of these classes.

namespace hostdb {

namespace {

using Tags = std::vector<dxf::Tag>;
using Property = AcDbDynBlockReferenceProperty;
using ParameterKind = Property::ParameterKind;

constexpr std::uint32_t kNoDefinition = std::numeric_limits<std::uint32_t>::max();

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.remove_suffix(1);
    return v;
}

// Numbers of values the store checked on reading; read again without trusting that,
// since nothing here may throw.
std::optional<double> realOf(std::string_view v) {
    v = trimmed(v);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::int64_t> integerOf(std::string_view v) {
    v = trimmed(v);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    std::int64_t n = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
    return n;
}

Tags tagsOfStub(const DrawingStore& store, const ObjectStub& stub) {
    if (stub.begin == npos || stub.end == npos || stub.end < stub.begin) return {};
    return tagsIn(store, {stub.begin, stub.end});
}

bool isType(const Tags& tags, std::string_view type) { return !tags.empty() && tags.front().value == type; }

// Where an object's own tags end: its extended data, if any, comes after.
std::size_t ownEnd(const Tags& tags) {
    for (std::size_t i = 0; i < tags.size(); ++i)
        if (tags[i].code == 1001) return i;
    return tags.size();
}

// The index of the subclass marker `name` among [0, end), npos when absent.
std::size_t markerAt(const Tags& tags, std::string_view name, std::size_t end) {
    for (std::size_t i = 0; i < end; ++i)
        if (tags[i].code == 100 && tags[i].value == name) return i;
    return npos;
}

// Where the subclass beginning at `marker` ends: the next marker, or `end`.
std::size_t subclassEnd(const Tags& tags, std::size_t marker, std::size_t end) {
    for (std::size_t i = marker + 1; i < end; ++i)
        if (tags[i].code == 100) return i;
    return end;
}

double angleOf(const AcGeVector3d& v) { return std::atan2(v.y, v.x); }

// An angle in [0, 2π).
double normalised(double a) {
    constexpr double kFull = 2 * std::numbers::pi;
    a = std::fmod(a, kFull);
    if (a < 0) a += kFull;
    return a >= kFull ? 0.0 : a;
}

// The rotation a parameter's points give: the turn of the end about the base,
// counted from the base angle's direction.
double rotationOf(const AcGePoint3d& base, const AcGePoint3d& end, const AcGePoint3d& baseAngle) {
    return normalised(angleOf(end - base) - angleOf(baseAngle - base));
}

// The parameter kinds a reference reports, by the element's object type; the
// others (XY, point, alignment, base point, constraints) and every grip and action
// are no property of a reference.
struct KindOfType {
    std::string_view type, subclass;
    ParameterKind kind;
};
constexpr KindOfType kKinds[] = {
    {"BLOCKVISIBILITYPARAMETER", "AcDbBlockVisibilityParameter", Property::kVisibility},
    {"BLOCKFLIPPARAMETER", "AcDbBlockFlipParameter", Property::kFlip},
    {"BLOCKLOOKUPPARAMETER", "AcDbBlockLookupParameter", Property::kLookup},
    {"BLOCKLINEARPARAMETER", "AcDbBlockLinearParameter", Property::kLinear},
    {"BLOCKPOLARPARAMETER", "AcDbBlockPolarParameter", Property::kPolar},
    {"BLOCKROTATIONPARAMETER", "AcDbBlockRotationParameter", Property::kRotation},
};

bool isDistance(ParameterKind k) { return k == Property::kLinear || k == Property::kPolar; }

AcDbDynBlockReferenceProperty::UnitsType unitsOf(ParameterKind k) {
    if (isDistance(k)) return Property::kDistance;
    if (k == Property::kRotation) return Property::kAngular;
    return Property::kNoUnits;
}

// The points of a run of tags, each begun by its X (`code`) with its Y and Z (code
// + 10, + 20) after it; a point lacking them has them 0.
std::vector<AcGePoint3d> pointsIn(const Tags& tags, std::size_t begin, std::size_t end, int code) {
    std::vector<AcGePoint3d> points;
    for (std::size_t i = begin; i < end; ++i) {
        const int c = tags[i].code;
        if (c != code && (points.empty() || (c != code + 10 && c != code + 20))) continue;
        const std::optional<double> v = realOf(tags[i].value);
        if (c == code) points.emplace_back(v.value_or(0.0), 0.0, 0.0);
        if (!v) continue;
        if (c == code + 10) points.back().y = *v;
        if (c == code + 20) points.back().z = *v;
    }
    return points;
}

}  // namespace

// ---- the index of one drawing's dynamic blocks

struct DrawingStore::DynamicBlocks {
    // A parameter as its block defines it.
    struct Parameter {
        std::int64_t node = 0;  // the graph node's id, the key of a reference's values
        ParameterKind kind = Property::kVisibility;
        std::string name, description;
        bool show = true;
        AcDbEvalVariant defaultValue;  // a distance in block units
    };
    // A dynamic block's definition: its graph, its parameters read when first asked for.
    struct Definition {
        explicit Definition(std::uint64_t g) : graph(g) {}
        std::uint64_t graph;
        std::once_flag read;
        std::vector<Parameter> parameters;
    };
    struct Block {
        std::uint32_t definition = kNoDefinition;  // of a dynamic block's record
        bool anonymous = false;
        bool tagged = false;  // its record carries AcDbBlockRepBTag
        // The dynamic block's record that tag names, null when it names none.
        ObjectStub* madeFrom = nullptr;
        bool dynamic() const { return definition != kNoDefinition; }
    };

    DynamicBlocks() = default;  // of a drawing whose blocks all read as plain blocks
    explicit DynamicBlocks(const DrawingStore& store);

    // Null for a record that is no block's, or one added since the index was made
    // (it has no text, so no dynamic block data either).
    const Block* of(const ObjectStub* record) const {
        if (!record || record->erased || !record->hasBlock() || record->blockIndex() >= blocks.size()) return nullptr;
        return &blocks[record->blockIndex()];
    }
    bool isDynamic(const ObjectStub* record) const {
        const Block* b = of(record);
        return b && b->dynamic();
    }
    const std::vector<Parameter>& parametersOf(const DrawingStore& store, const ObjectStub* record) const;

    std::vector<Block> blocks;  // by block index
    std::vector<std::unique_ptr<Definition>> definitions;
    bool any = false;
};

namespace {

using Index = DrawingStore::DynamicBlocks;

bool isAnonymous(const BlockInfo& b) {
    return (b.flags & 1) != 0 || (!b.name.empty() && b.name[0] == '*' && !b.isLayout);
}

// The evaluation graph a block record's extension dictionary names; 0 for none.
std::uint64_t graphOf(const DrawingStore& store, const Tags& record) {
    const std::uint64_t xdict = extensionDictionaryOf(record);
    if (xdict == 0) return 0;
    const std::uint64_t graph = dictionaryEntry(store, xdict, "ACAD_ENHANCEDBLOCK");
    if (graph == 0) return 0;
    const auto range = store.objectRange(graph);
    if (!range) return 0;
    // Only the type is needed: the object's first tag.
    dxf::Tokenizer tok(store.text().substr(0, range->end), range->begin, dxf::ValueCheck::Trust);
    dxf::Tag type;
    return tok.next(type) && type.code == 0 && type.value == "ACAD_EVALUATION_GRAPH" ? graph : 0;
}

// The record that AcDbBlockRepBTag names; nullopt without the tag, 0 for a tag
// naming nothing readable.
std::optional<std::uint64_t> repTagOf(const Tags& record) {
    const Tags data = extendedDataOf(record, "AcDbBlockRepBTag");
    if (data.empty()) return std::nullopt;
    for (const dxf::Tag& t : data)
        if (t.code == 1005) return handleValue(t.value);
    return 0;
}

// The entry of a reference's extension dictionary that leads to its block
// representation; 0 for none.
std::uint64_t representationOf(const DrawingStore& store, const ObjectStub& reference) {
    const std::uint64_t xdict = extensionDictionaryOf(tagsOfStub(store, reference));
    return dictionaryEntry(store, xdict, "AcDbBlockRepresentation");
}

// The dynamic block's record a reference's representation data names: nullopt
// when it names none, 0 when its handle is unreadable.
std::optional<std::uint64_t> representedBlockOf(const DrawingStore& store, const ObjectStub& reference) {
    const std::uint64_t data = dictionaryEntry(store, representationOf(store, reference), "AcDbRepData");
    if (data == 0) return std::nullopt;
    const Tags tags = objectTags(store, data);
    if (!isType(tags, "ACDB_BLOCKREPRESENTATION_DATA")) return std::nullopt;
    const std::size_t end = ownEnd(tags);
    const std::size_t marker = markerAt(tags, "AcDbBlockRepresentationData", end);
    if (marker == npos) return std::nullopt;
    for (std::size_t i = marker + 1; i < end; ++i)
        if (tags[i].code == 340) return handleValue(tags[i].value);
    return std::nullopt;
}

// The values a reference keeps: each graph node's XRECORD handle by node id.
std::vector<std::pair<std::int64_t, std::uint64_t>> valuesOf(const DrawingStore& store, const ObjectStub& reference) {
    const std::uint64_t cache = dictionaryEntry(store, representationOf(store, reference), "AppDataCache");
    const std::uint64_t data = dictionaryEntry(store, cache, "ACAD_ENHANCEDBLOCKDATA");
    std::vector<std::pair<std::int64_t, std::uint64_t>> values;
    if (data == 0) return values;
    const Tags tags = objectTags(store, data);
    if (!isType(tags, "DICTIONARY")) return values;
    for (const DictionaryEntry& e : dictionaryEntries(tags))
        if (std::optional<std::int64_t> node = integerOf(e.name); node && e.handle != 0)
            values.emplace_back(*node, e.handle);
    return values;
}

// The block a reference names: the one the reading of the file found, or the one
// its name gives (which no change can make another).
ObjectStub* blockNamedBy(const ObjectStub& reference) {
    const DrawingStore& store = *reference.store;
    if (reference.preLocated) return store.blockOfReference(reference);
    if (reference.begin == npos) return nullptr;
    ObjectData data;
    locateFields(store, reference, data);
    decodeFields(store, data, bit(fName));
    return store.findBlock(data.name);
}

AcGeScale3d scaleOf(const ObjectStub& reference) {
    // An open or changed reference has its values in memory, possibly new ones.
    if (reference.live) return static_cast<const AcDbBlockReference*>(reference.live)->scaleFactors();
    ObjectData data;
    locateFields(*reference.store, reference, data);
    decodeFields(*reference.store, data, bit(fWidth) | bit(fScaleY) | bit(fScaleZ));
    return data.scale;
}

// The factor distances of the block take in the reference: its uniform scale's
// size, none for a scale that differs by axis (a distance has no one length then).
std::optional<double> distanceFactorOf(const AcGeScale3d& s) {
    const double x = std::fabs(s.sx), y = std::fabs(s.sy), z = std::fabs(s.sz);
    const double tolerance = 1e-10 * std::max({x, y, z});
    if (std::fabs(x - y) > tolerance || std::fabs(x - z) > tolerance) return std::nullopt;
    return x;
}

// One element of the graph as a parameter a reference reports, or nothing for an
// element of another kind or one whose tags are not those of its kind.
std::optional<Index::Parameter> readParameter(const DrawingStore& store, std::uint64_t element, std::int64_t node) {
    const Tags tags = objectTags(store, element);
    if (tags.empty()) return std::nullopt;
    const KindOfType* kind = nullptr;
    for (const KindOfType& k : kKinds)
        if (tags.front().value == k.type) kind = &k;
    if (!kind) return std::nullopt;
    const std::size_t end = ownEnd(tags);
    // The class's own subclass comes last; an object cut short of it is no parameter.
    std::size_t own = npos;
    for (std::size_t i = 0; i < end; ++i)
        if (tags[i].code == 100) own = i;
    // Compared without regard to case: files spell the lookup parameter's marker
    // "AcDbBlockLookUpParameter" while its class is named "AcDbBlockLookupParameter".
    if (own == npos || platform::upper(tags[own].value) != platform::upper(kind->subclass)) return std::nullopt;

    Index::Parameter p;
    p.node = node;
    p.kind = kind->kind;
    if (const std::size_t m = markerAt(tags, "AcDbBlockParameter", end); m != npos)
        for (std::size_t i = m + 1; i < subclassEnd(tags, m, end); ++i)
            if (tags[i].code == 280) {
                p.show = integerOf(tags[i].value).value_or(1) != 0;
                break;
            }
    // The label the user sees is the class's own (the element's name, 300, is the
    // author's, often localised); its description follows it.
    std::size_t label = npos;
    for (std::size_t i = own + 1; i < end && label == npos; ++i)
        if (tags[i].code == 301 || tags[i].code == 303 || tags[i].code == 305) label = i;
    if (label == npos) return std::nullopt;
    p.name = store.codec().decode(tags[label].value);
    if (label + 1 < end && tags[label + 1].code == tags[label].code + 1)
        p.description = store.codec().decode(tags[label + 1].value);

    // The parameter's points: base (1010) and, of a two-point one, end (1011).
    std::optional<AcGePoint3d> base, endPoint;
    std::size_t pts = markerAt(tags, "AcDbBlock2PtParameter", end);
    if (pts == npos) pts = markerAt(tags, "AcDbBlock1PtParameter", end);
    if (pts != npos) {
        const std::size_t e = subclassEnd(tags, pts, end);
        if (auto b = pointsIn(tags, pts + 1, e, 1010); !b.empty()) base = b.front();
        if (auto b = pointsIn(tags, pts + 1, e, 1011); !b.empty()) endPoint = b.front();
    }
    switch (p.kind) {
    case Property::kVisibility: {
        // After the label: the entities' list, then "92 count" and per state its
        // name (303) and lists; the first state is the block's own.
        std::string first;
        bool counted = false;
        for (std::size_t i = label + 1; i < end; ++i) {
            if (!counted && tags[i].code == 92) {
                counted = true;
                if (integerOf(tags[i].value).value_or(0) <= 0) break;
            } else if (counted && tags[i].code == 303) {
                first = store.codec().decode(tags[i].value);
                break;
            }
        }
        p.defaultValue = AcDbEvalVariant(std::move(first));
        break;
    }
    case Property::kFlip:
        p.defaultValue = AcDbEvalVariant(short{0});
        break;
    case Property::kLookup:
        p.defaultValue = AcDbEvalVariant(std::string());
        break;
    case Property::kLinear:
    case Property::kPolar:
        if (!base || !endPoint) return std::nullopt;
        p.defaultValue = AcDbEvalVariant(base->distanceTo(*endPoint));
        break;
    case Property::kRotation: {
        // The base angle's point is the 1011 of the class's own subclass.
        const std::vector<AcGePoint3d> angle = pointsIn(tags, own + 1, end, 1011);
        if (!base || !endPoint || angle.empty()) return std::nullopt;
        p.defaultValue = AcDbEvalVariant(rotationOf(*base, *endPoint, angle.front()));
        break;
    }
    }
    return p;
}

std::vector<Index::Parameter> readParameters(const DrawingStore& store, std::uint64_t graph) {
    std::vector<Index::Parameter> parameters;
    const Tags tags = objectTags(store, graph);
    if (!isType(tags, "ACAD_EVALUATION_GRAPH")) return parameters;
    const std::size_t end = ownEnd(tags);
    std::unordered_set<std::int64_t> nodes;
    // The nodes, "91 index, 93 flags, 95 id, 360 element" and their edges' indices;
    // the edges after them have 91s too, never followed by that run.
    for (std::size_t i = 0; i + 3 < end; ++i) {
        if (tags[i].code != 91 || tags[i + 1].code != 93 || tags[i + 2].code != 95 || tags[i + 3].code != 360) continue;
        const std::optional<std::int64_t> node = integerOf(tags[i + 2].value);
        const std::uint64_t element = handleValue(tags[i + 3].value);
        i += 3;
        if (!node || element == 0 || !nodes.insert(*node).second) continue;
        if (auto p = readParameter(store, element, *node)) parameters.push_back(std::move(*p));
    }
    return parameters;
}

// A reference's value of one parameter from its XRECORD; nothing when the record
// does not hold what the parameter's kind keeps.
std::optional<AcDbEvalVariant> readValue(const DrawingStore& store, std::uint64_t xrecord, ParameterKind kind) {
    const Tags tags = objectTags(store, xrecord);
    if (!isType(tags, "XRECORD")) return std::nullopt;
    const std::size_t end = ownEnd(tags);
    std::size_t begin = markerAt(tags, "AcDbXrecord", end);
    if (begin == npos) return std::nullopt;
    ++begin;
    if (begin < end && tags[begin].code == 280) ++begin;  // the record's cloning flag, before its data
    switch (kind) {
    case Property::kVisibility:
    case Property::kLookup:
        for (std::size_t i = begin; i < end; ++i)
            if (tags[i].code == 1) return AcDbEvalVariant(store.codec().decode(tags[i].value));
        return std::nullopt;
    case Property::kLinear:
    case Property::kPolar: {
        const std::vector<AcGePoint3d> p = pointsIn(tags, begin, end, 10);
        if (p.size() < 2) return std::nullopt;
        return AcDbEvalVariant(p[0].distanceTo(p[1]));
    }
    case Property::kRotation: {
        // Base, end, the plane's normal, the base angle's point.
        const std::vector<AcGePoint3d> p = pointsIn(tags, begin, end, 10);
        if (p.size() < 4) return std::nullopt;
        return AcDbEvalVariant(rotationOf(p[0], p[1], p[3]));
    }
    case Property::kFlip: {
        // The class's versions (1071, 1071, 70, 70) first; the state is the last 70.
        std::optional<std::int64_t> state;
        for (std::size_t i = begin + 4; i < end; ++i)
            if (tags[i].code == 70) state = integerOf(tags[i].value);
        if (!state) return std::nullopt;
        return AcDbEvalVariant(static_cast<short>(*state != 0));
    }
    }
    return std::nullopt;
}

}  // namespace

DrawingStore::DynamicBlocks::DynamicBlocks(const DrawingStore& store) {
    blocks.resize(store.blocks_.size());
    std::vector<std::pair<std::size_t, std::uint64_t>> tagged;
    for (std::size_t i = 0; i < store.blocks_.size(); ++i) {
        const BlockInfo& info = store.blocks_[i];
        Block& b = blocks[i];
        b.anonymous = isAnonymous(info);
        if (!info.record) continue;
        const Tags record = tagsOfStub(store, *info.record);
        if (record.empty()) continue;
        if (const std::uint64_t graph = graphOf(store, record); graph != 0) {
            b.definition = static_cast<std::uint32_t>(definitions.size());
            definitions.push_back(std::make_unique<Definition>(graph));
            any = true;
        }
        if (const std::optional<std::uint64_t> tag = repTagOf(record)) {
            b.tagged = true;
            tagged.emplace_back(i, *tag);
        }
    }
    // A tag names a dynamic block only when the record it names is one, and is
    // another than the tagged one.
    for (const auto& [i, handle] : tagged) {
        ObjectStub* named = handle != 0 ? store.byHandle(handle) : nullptr;
        if (!named || named->kind != Kind::BlockRecord || named == store.blocks_[i].record) continue;
        if (named->hasBlock() && named->blockIndex() < blocks.size() && blocks[named->blockIndex()].dynamic())
            blocks[i].madeFrom = named;
    }
}

const std::vector<DrawingStore::DynamicBlocks::Parameter>& DrawingStore::DynamicBlocks::parametersOf(
    const DrawingStore& store, const ObjectStub* record) const {
    static const std::vector<Parameter> none;
    const Block* b = of(record);
    if (!b || !b->dynamic()) return none;
    Definition& d = *definitions[b->definition];
    std::call_once(d.read, [&] {
        try {
            d.parameters = readParameters(store, d.graph);
        } catch (...) {
            d.parameters.clear();  // a block whose graph cannot be read has no parameters
        }
    });
    return d.parameters;
}

const DrawingStore::DynamicBlocks& DrawingStore::dynamicBlocks() const {
    if (const DynamicBlocks* made = dynamicBlocksReady_.load(std::memory_order_acquire)) return *made;
    std::call_once(dynamicBlocksMade_, [this] {
        try {
            dynamicBlocks_ = std::make_shared<const DynamicBlocks>(*this);
        } catch (...) {
            // Out of memory, say: the drawing's blocks read as plain blocks.
            dynamicBlocks_ = std::make_shared<const DynamicBlocks>();
        }
        dynamicBlocksReady_.store(dynamicBlocks_.get(), std::memory_order_release);
    });
    return *dynamicBlocks_;
}

}  // namespace hostdb

using hostdb::DrawingStore;
using hostdb::ObjectStub;

namespace {

// What a reference is of: the block it names, and when that is a dynamic block's
// (itself or an anonymous block made from it), the dynamic block's record and the
// anonymous one.
struct Resolved {
    ObjectStub* block = nullptr;
    ObjectStub* dynamic = nullptr;
    ObjectStub* anonymous = nullptr;
};

// `needBlock`: the block is wanted even where no dynamic block is, which a drawing
// without any can skip.
Resolved resolve(const AcDbObjectId& id, bool needBlock) {
    Resolved r;
    const ObjectStub* ref = id.stub();
    if (!ref || ref->kind != hostdb::Kind::Insert) return r;
    const DrawingStore& store = *ref->store;
    const DrawingStore::DynamicBlocks& index = store.dynamicBlocks();
    if (!index.any && !needBlock) return r;
    r.block = hostdb::blockNamedBy(*ref);
    if (!index.any) return r;
    const DrawingStore::DynamicBlocks::Block* b = index.of(r.block);
    if (!b) return r;
    if (b->dynamic()) {
        r.dynamic = r.block;
        return r;
    }
    // Only references of anonymous blocks have their extension dictionaries read.
    if (!b->anonymous && !b->tagged) return r;
    if (b->tagged && !index.isDynamic(b->madeFrom)) return r;
    const std::optional<std::uint64_t> represented = hostdb::representedBlockOf(store, *ref);
    if (b->tagged) {
        // The block's tag and the reference's data must agree on the block.
        if (represented && *represented != b->madeFrom->handle) return r;
        r.dynamic = b->madeFrom;
    } else {
        if (!represented || *represented == 0) return r;
        ObjectStub* named = store.byHandle(*represented);
        if (!named || named->kind != hostdb::Kind::BlockRecord || !index.isDynamic(named)) return r;
        r.dynamic = named;
    }
    r.anonymous = r.block;
    return r;
}

Resolved resolveSafely(const AcDbObjectId& id, bool needBlock) noexcept {
    try {
        return resolve(id, needBlock);
    } catch (...) {
        return {};
    }
}

}  // namespace

AcDbDynBlockReference::AcDbDynBlockReference(AcDbObjectId blockRefId) : ref_(blockRefId) {}

bool AcDbDynBlockReference::isDynamicBlock(AcDbObjectId blockTableRecordId) {
    const ObjectStub* record = blockTableRecordId.stub();
    if (!record || record->kind != hostdb::Kind::BlockRecord) return false;
    try {
        return record->store->dynamicBlocks().isDynamic(record);
    } catch (...) {
        return false;
    }
}

bool AcDbDynBlockReference::isDynamicBlock() const { return resolveSafely(ref_, false).dynamic != nullptr; }

AcDbObjectId AcDbDynBlockReference::dynamicBlockTableRecord() const {
    const Resolved r = resolveSafely(ref_, true);
    return AcDbObjectId(r.dynamic ? r.dynamic : r.block);
}

AcDbObjectId AcDbDynBlockReference::anonymousBlockTableRecord() const {
    return AcDbObjectId(resolveSafely(ref_, false).anonymous);
}

void AcDbDynBlockReference::getBlockProperties(AcDbDynBlockReferencePropertyArray& properties) const {
    properties.clear();
    try {
        const Resolved r = resolve(ref_, false);
        if (!r.dynamic) return;
        const ObjectStub& ref = *ref_.stub();
        const DrawingStore& store = *ref.store;
        const auto& parameters = store.dynamicBlocks().parametersOf(store, r.dynamic);
        if (parameters.empty()) return;
        // A reference of the dynamic block itself has every parameter at its default.
        std::vector<std::pair<std::int64_t, std::uint64_t>> values;
        if (r.anonymous) values = hostdb::valuesOf(store, ref);
        const std::optional<double> factor = hostdb::distanceFactorOf(hostdb::scaleOf(ref));
        for (const auto& p : parameters) {
            const bool distance = hostdb::isDistance(p.kind);
            if (distance && !factor) continue;
            AcDbEvalVariant value = p.defaultValue;
            auto kept = std::find_if(values.begin(), values.end(), [&](const auto& v) { return v.first == p.node; });
            if (kept != values.end()) {
                std::optional<AcDbEvalVariant> read = hostdb::readValue(store, kept->second, p.kind);
                if (!read) continue;  // a record that holds no such value leaves the parameter out
                value = std::move(*read);
            }
            if (distance) value = AcDbEvalVariant(value.real() * *factor);
            properties.emplace_back(p.name, p.description, p.kind, hostdb::unitsOf(p.kind), std::move(value),
                                    /*readOnly=*/false, p.show);
        }
    } catch (...) {
        properties.clear();
    }
}

AcDbDynBlockTableRecord::AcDbDynBlockTableRecord(AcDbObjectId blockTableRecordId) : record_(blockTableRecordId) {}

bool AcDbDynBlockTableRecord::isDynamicBlock() const { return AcDbDynBlockReference::isDynamicBlock(record_); }

Acad::ErrorStatus AcDbDynBlockTableRecord::getAnonymousBlockIds(AcDbObjectIdArray& anonymousIds) const {
    anonymousIds.clear();
    ObjectStub* record = record_.stub();
    if (!record) return Acad::eNullObjectId;
    if (!isDynamicBlock()) return Acad::eOk;
    try {
        DrawingStore& store = *record->store;
        const DrawingStore::DynamicBlocks& index = store.dynamicBlocks();
        for (const hostdb::BlockInfo& info : store.blocks()) {
            const DrawingStore::DynamicBlocks::Block* b = index.of(info.record);
            if (!b || b->dynamic()) continue;
            bool madeFromThis = b->tagged && b->madeFrom == record;
            // An anonymous block without the tag is this block's when its
            // references' data say so; the first reference with such data decides.
            if (!b->tagged && b->anonymous) {
                for (const ObjectStub* ref : info.references) {
                    if (ref->erased) continue;
                    const std::optional<std::uint64_t> represented = hostdb::representedBlockOf(store, *ref);
                    if (!represented) continue;
                    madeFromThis = *represented == record->handle;
                    break;
                }
            }
            if (madeFromThis) anonymousIds.emplace_back(info.record);
        }
    } catch (...) {
        anonymousIds.clear();
    }
    return Acad::eOk;
}
