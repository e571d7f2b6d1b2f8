#include "sheet/xlsx/Package.h"

#include "sheet/Automation.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/CommentsPart.h"
#include "sheet/xlsx/ForeignFile.h"
#include "sheet/xlsx/PackageParts.h"
#include "sheet/xlsx/SharedStringsPart.h"
#include "sheet/xlsx/StylesPart.h"
#include "sheet/xlsx/VmlDrawingPart.h"
#include "sheet/xlsx/WorkbookPart.h"
#include "sheet/xlsx/WorksheetPart.h"
#include "sheet/xlsx/Zip.h"

#include <algorithm>
#include <charconv>
#include <future>
#include <map>
#include <set>
#include <system_error>

namespace sheet::xlsx {
namespace {

constexpr std::string_view kThreadedComments =
    "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment";

namespace ctype {
constexpr std::string_view workbook = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr std::string_view worksheet = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr std::string_view sharedStrings =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr std::string_view styles = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr std::string_view comments = "application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml";
constexpr std::string_view vml = "application/vnd.openxmlformats-officedocument.vmlDrawing";
constexpr std::string_view rels = "application/vnd.openxmlformats-package.relationships+xml";
}  // namespace ctype

const Relationship* findRel(const std::vector<Relationship>& rels, std::string_view type) {
    for (const auto& r : rels)
        if (r.type == type) return &r;
    return nullptr;
}

// Reads the entries a part refers to, naming the referring part when one is missing.
class EntryReader {
public:
    EntryReader(ZipReader& zip) : zip_(zip) {}
    std::string operator()(const std::string& name, const std::string& whoNeedsIt) {
        if (!zip_.has(name)) throw XlsxError(whoNeedsIt + " refers to " + name + ", which is missing from the file");
        return zip_.read(name);
    }
    ZipReader& zip() { return zip_; }

private:
    ZipReader& zip_;
};

void readSheetExtras(EntryReader& entry, Sheet& sheet, const ReadLimits& limits) {
    SheetCarry& sc = *sheet.carry;
    std::string relsName = relsPartOf(sc.partName);
    if (!entry.zip().has(relsName)) return;
    sc.rels = readRelationships(entry(relsName, relsName), relsName, limits);
    for (const auto& r : sc.rels) {
        if (r.targetMode == "External") continue;
        if (r.type == reltype::comments) {
            sc.commentsPart = resolveTarget(sc.partName, r.target);
            readComments(entry(sc.commentsPart, relsName), sc.commentsPart, sheet, limits);
        } else if (r.type == reltype::vmlDrawing) {
            sc.vmlPart = resolveTarget(sc.partName, r.target);
            if (!entry.zip().has(sc.vmlPart))
                throw XlsxError(relsName + " refers to " + sc.vmlPart + ", which is missing from the file");
            // What else the drawing holds matters only once its notes are to be
            // rewritten; checkCommentDrawing looks then.
            sc.isDrawingChecked = false;
        } else if (r.type == kThreadedComments && sc.commentsLockedReason.empty()) {
            sc.commentsLockedReason = "the sheet holds threaded comments";
        }
    }
}

// A save that would produce a file readPackage refuses.
[[noreturn]] void refuseToWrite(const std::string& what) {
    throw XlsxError(what + "; the file would not open again, so it was not written");
}

std::string megabytes(std::uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB"; }

}  // namespace

void checkCommentDrawing(const Book& book, SheetCarry& sc) {
    if (sc.isDrawingChecked) return;
    sc.isDrawingChecked = true;
    if (sc.vmlPart.empty() || !book.carry || !book.carry->has(sc.vmlPart)) return;
    std::string other;
    try {
        ZipReader zip(book.carry->archive, ReadLimits{});
        // Scanned piece by piece: the drawing of many notes is large, and only its
        // shape types matter here.
        VmlShapeScanner scanner;
        zip.readChunks(sc.vmlPart, [&](std::string_view piece) { scanner.feed(piece); });
        other = scanner.finish();
    } catch (const XlsxError& e) {
        other = std::string("an unreadable drawing (") + e.what() + ")";
    }
    if (!other.empty() && sc.commentsLockedReason.empty()) sc.commentsLockedReason = sc.vmlPart + " holds " + other;
}

std::unique_ptr<Book> readPackage(std::string_view bytes, std::u16string name, const ReadLimits& limits) {
    ZipReader zip(bytes, limits);
    auto book = std::make_unique<Book>(std::move(name));
    auto carry = std::make_shared<PackageCarry>();
    EntryReader entry(zip);
    carry->order = zip.names();
    // An OpenDocument package is a zip archive too, typed by its mimetype entry.
    if (!zip.has("[Content_Types].xml") && zip.has("mimetype")) refuseOpenDocument(zip.read("mimetype"));
    std::string types = entry("[Content_Types].xml", "the package");
    readContentTypes(types, limits, carry->defaultTypes, carry->overrideTypes);
    auto rootRels = readRelationships(entry("_rels/.rels", "the package"), "_rels/.rels", limits);
    const Relationship* office = findRel(rootRels, reltype::officeDocument);
    if (!office) throw XlsxError("_rels/.rels: the package names no workbook part");
    carry->workbookPart = resolveTarget("", office->target);
    const std::string& wbPart = carry->workbookPart;
    std::string wbRelsName = relsPartOf(wbPart);
    carry->workbookRels = readRelationships(entry(wbRelsName, "the package"), wbRelsName, limits);
    WorkbookInfo info = readWorkbookPart(entry(wbPart, "_rels/.rels"), wbPart, limits);
    if (!info.unpatchableReason.empty()) book->readOnlyReason = wbPart + ": " + info.unpatchableReason;
    book->isDate1904 = info.isDate1904;

    if (const auto* r = findRel(carry->workbookRels, reltype::sharedStrings)) {
        carry->sharedStringsPart = resolveTarget(wbPart, r->target);
        readSharedStrings(entry(carry->sharedStringsPart, wbRelsName), carry->sharedStringsPart, book->strings, limits);
    }
    book->strings.markAllFromFile();
    if (const auto* r = findRel(carry->workbookRels, reltype::styles)) {
        carry->stylesPart = resolveTarget(wbPart, r->target);
        readStyles(entry(carry->stylesPart, wbRelsName), carry->stylesPart, book->styles, limits);
    }

    std::vector<long> indexOfEntry;  // entry index in workbook.xml -> index in the book
    // Each worksheet part belongs to one sheet: two sheets sharing one would be one
    // content edited under two names, and the save would write one over the other.
    std::map<std::string, std::u16string> sheetOfPart;
    std::uint64_t memoryBytes = 0;
    for (const auto& s : info.sheets) {
        auto rel = std::find_if(carry->workbookRels.begin(), carry->workbookRels.end(),
                                [&](const Relationship& r) { return r.id == s.relId; });
        if (rel == carry->workbookRels.end())
            throw XlsxError(wbPart + ": sheet '" + utf16ToUtf8(s.name) + "' names relationship " + s.relId +
                            ", which does not exist");
        if (rel->type != reltype::worksheet) {
            // Chart and dialog sheets are not worksheets; a workbook with them is not
            // written back, so they are not lost.
            if (book->readOnlyReason.empty())
                book->readOnlyReason = "sheet '" + utf16ToUtf8(s.name) + "' is not a worksheet (chart or dialog sheet)";
            indexOfEntry.push_back(-1);
            continue;
        }
        std::string partName = resolveTarget(wbPart, rel->target);
        if (auto [it, isNew] = sheetOfPart.emplace(partName, s.name); !isNew)
            throw XlsxError(wbPart + ": sheets '" + utf16ToUtf8(it->second) + "' and '" + utf16ToUtf8(s.name) +
                            "' both name the worksheet part " + partName + "; each sheet needs a part of its own");
        auto sheet = std::make_shared<Sheet>(*book, s.name);
        sheet->carry = std::make_shared<SheetCarry>();
        sheet->carry->partName = std::move(partName);
        sheet->carry->relId = s.relId;
        sheet->carry->sheetId = s.sheetId;
        sheet->carry->extraSheetAttributes = s.extraAttributes;
        sheet->setVisibility(s.visibility);
        readWorksheet(entry(sheet->carry->partName, wbPart), sheet->carry->partName, *sheet, limits,
                      book->readOnlyReason);
        readSheetExtras(entry, *sheet, limits);
        memoryBytes += sheet->footprintBytes();
        if (memoryBytes > limits.maxBookMemoryBytes)
            throw XlsxError(sheet->carry->partName + ": the workbook's sheets would take more than " +
                            std::to_string(limits.maxBookMemoryBytes >> 20) +
                            " MB of memory up to this one, more than the reader accepts");
        sheet->markSaved();
        indexOfEntry.push_back(static_cast<long>(book->sheets().size()));
        book->sheets().push_back(sheet);
    }
    if (book->sheets().empty()) throw XlsxError(wbPart + ": the workbook holds no worksheet");
    long active = info.activeTab < indexOfEntry.size() ? indexOfEntry[info.activeTab] : 0;
    book->setActiveIndex(active >= 0 ? static_cast<std::size_t>(active) : 0);
    // A file whose active tab is hidden (another program's slip) opens on a visible
    // sheet, as activating a hidden one is refused. One whose sheets are all hidden
    // is left as it is: every program shows it only after repairing it.
    if (!book->activeSheet()->isVisible())
        if (auto visible = book->visibleNeighbour(book->activeIndex())) book->setActiveIndex(*visible);
    if (long first = indexOfEntry[info.firstSheet]; first >= 0) carry->firstTab = book->sheets()[first];

    for (auto& n : info.definedNames) {
        DefinedName d;
        d.attributes = std::move(n.attributes);
        d.text = std::move(n.text);
        if (n.localSheetId >= 0) {
            d.isLocal = true;
            long index =
                static_cast<std::size_t>(n.localSheetId) < indexOfEntry.size() ? indexOfEntry[n.localSheetId] : -1;
            if (index < 0) {
                if (book->readOnlyReason.empty())
                    book->readOnlyReason = "a defined name refers to a sheet that is not a worksheet";
            } else {
                d.localIndex = index;
                d.localSheet = book->sheets()[index];
            }
        }
        carry->definedNames.push_back(std::move(d));
    }
    carry->workbookRootStartTag = std::move(info.rootStartTag);
    carry->workbookPieces = std::move(info.pieces);
    carry->workbookViewAttributes = std::move(info.workbookViewAttributes);
    carry->extraWorkbookViews = std::move(info.extraWorkbookViews);
    carry->archive.assign(bytes);
    book->carry = std::move(carry);
    book->markSaved();
    return book;
}

std::string writePackage(Book& book, const ReadLimits& limits) {
    // What the reader would refuse is found before anything is generated where it
    // can be; part sizes are known as the parts are.
    if (book.sheets().size() > limits.maxSheets)
        refuseToWrite("the workbook has " + std::to_string(book.sheets().size()) + " sheets, more than the " +
                      std::to_string(limits.maxSheets) + " the reader takes");
    // The shared strings: the file's, then the texts added since that cells use. The
    // table is laid out on another core from the first, as it takes longest, while
    // the rest is prepared and the sheets' notes are written, which do not need it;
    // the worksheets wait for it. Meanwhile the cells are only read.
    const std::uint32_t firstAdded = book.strings.fileCount();
    auto layOut = [&book, firstAdded] {
        std::vector<bool> used(book.strings.size() - firstAdded, false);
        for (const auto& s : book.sheets()) s->markUsedTexts(firstAdded, used);
        return book.strings.layout(used);
    };
    std::future<StringPool::Layout> pendingLayout;
    try {
        pendingLayout = std::async(std::launch::async, layOut);
    } catch (const std::system_error&) {
        // No thread to be had: laid out here, below.
    }
    std::uint64_t memoryBytes = 0;
    for (const auto& s : book.sheets()) memoryBytes += s->footprintBytes();
    if (memoryBytes > limits.maxBookMemoryBytes)
        refuseToWrite("the sheets take " + megabytes(memoryBytes) + " of memory, more than the " +
                      megabytes(limits.maxBookMemoryBytes) + " the reader allows a workbook");
    if (!book.carry) book.carry = std::make_shared<PackageCarry>();
    PackageCarry& carry = *book.carry;
    const std::string wbPart = carry.workbookPart;
    // Each generated part goes into the archive, and starts being compressed, as
    // soon as it is made: the next part is built while the last one is deflated,
    // and no part waits in memory for the others.
    ZipWriter zip;
    std::map<std::string, std::uint64_t> generated;  // name -> size of generated parts
    auto emit = [&](const std::string& name, std::string bytes) {
        generated[name] = bytes.size();
        zip.add(name, std::move(bytes));
    };
    // The large parts go into the archive in pieces while they are written.
    auto emitInPieces = [&](const std::string& name, const auto& produce) {
        const std::size_t entry = zip.beginEntry(name);
        std::uint64_t size = 0;
        const PartSink sink = [&](std::string& piece) {
            size += piece.size();
            zip.write(entry, std::move(piece));
            piece.clear();
            piece.reserve(kPartPieceBytes + (kPartPieceBytes >> 4));
        };
        std::string rest = produce(sink);
        size += rest.size();
        zip.endEntry(entry, std::move(rest));
        generated[name] = size;
    };
    std::set<std::string> dropped;

    // Part names in use, so that new parts get fresh ones.
    std::set<std::string> taken(carry.order.begin(), carry.order.end());
    for (const auto& s : book.sheets())
        if (s->carry) {
            taken.insert(s->carry->partName);
            if (!s->carry->commentsPart.empty()) taken.insert(s->carry->commentsPart);
            if (!s->carry->vmlPart.empty()) taken.insert(s->carry->vmlPart);
        }
    // Each kind of part counts on from the last name it gave, which is the first free
    // one as well: a workbook of thousands of sheets must not try every lower number.
    std::map<std::string, int> lastNumber;
    auto freshName = [&](const std::string& prefix, const std::string& suffix) {
        for (int& n = lastNumber[prefix + '*' + suffix];;) {
            std::string name = prefix + std::to_string(++n) + suffix;
            if (taken.insert(name).second) return name;
        }
    };

    std::vector<Relationship> wbRels = carry.workbookRels;
    wbRels.erase(std::remove_if(wbRels.begin(), wbRels.end(),
                                [&](const Relationship& r) {
                                    if (r.type != reltype::calcChain) return false;
                                    // The calculation chain lists formula cells; it is
                                    // a cache the reading program rebuilds, and a stale
                                    // one makes it report damage.
                                    dropped.insert(resolveTarget(wbPart, r.target));
                                    return true;
                                }),
                 wbRels.end());
    if (carry.sharedStringsPart.empty()) carry.sharedStringsPart = "xl/sharedStrings.xml";
    if (carry.stylesPart.empty()) carry.stylesPart = "xl/styles.xml";
    if (!findRel(wbRels, reltype::styles))
        wbRels.push_back(
            {freeRelationshipId(wbRels), std::string(reltype::styles), relativeTarget(wbPart, carry.stylesPart), ""});
    if (!findRel(wbRels, reltype::sharedStrings))
        wbRels.push_back({freeRelationshipId(wbRels), std::string(reltype::sharedStrings),
                          relativeTarget(wbPart, carry.sharedStringsPart), ""});

    long maxSheetId = 0;
    for (const auto& s : book.sheets())
        if (s->carry && !s->carry->sheetId.empty()) {
            long v = 0;
            std::from_chars(s->carry->sheetId.data(), s->carry->sheetId.data() + s->carry->sheetId.size(), v);
            maxSheetId = std::max(maxSheetId, v);
        }

    // The workbook's relationship ids in a set: each sheet looks its own up, and new
    // ids count on from the last one given (the lowest free one, as
    // freeRelationshipId gives), instead of every sheet of thousands going through
    // the whole list.
    std::set<std::string> wbRelIds;
    for (const auto& r : wbRels) wbRelIds.insert(r.id);
    int lastWbRelId = 0;
    auto freeWbRelId = [&] {
        for (;;)
            if (std::string id = "rId" + std::to_string(++lastWbRelId); wbRelIds.insert(id).second) return id;
    };

    int nextVmlBlock = 1;
    std::vector<std::pair<std::string, std::string_view>> overrides;  // generated part -> content type
    // Per sheet: the content types its notes add, and whether its worksheet part is
    // written (not carried over as it was).
    std::vector<std::vector<std::pair<std::string, std::string_view>>> notesOverrides(book.sheets().size());
    std::vector<bool> isWritten(book.sheets().size(), false);
    for (std::size_t i = 0; i < book.sheets().size(); ++i) {
        Sheet& sheet = *book.sheets()[i];
        if (!sheet.carry) sheet.carry = std::make_shared<SheetCarry>();
        SheetCarry& sc = *sheet.carry;
        if (sc.partName.empty()) sc.partName = freshName("xl/worksheets/sheet", ".xml");
        if (sc.sheetId.empty()) sc.sheetId = std::to_string(++maxSheetId);
        if (sc.relId.empty() || !wbRelIds.count(sc.relId)) {
            sc.relId = freeWbRelId();
            wbRels.push_back({sc.relId, std::string(reltype::worksheet), relativeTarget(wbPart, sc.partName), ""});
        }
        bool isVerbatim =
            !sheet.isChanged() && carry.has(sc.partName) && !sc.rootStartTag.empty() && !isHiddenButSelected(sheet);
        if (isVerbatim) {
            // The VML drawing's shape ids were numbered by whoever wrote it; new
            // drawings start above a generous allowance for them.
            nextVmlBlock = std::max(nextVmlBlock, 64);
            continue;
        }
        bool regenerateComments = sheet.areCommentsChanged() || !carry.has(sc.partName) || sc.rootStartTag.empty();
        if (regenerateComments) {
            std::vector<Relationship> rels;
            for (const auto& r : sc.rels)
                if (r.type != reltype::comments && r.type != reltype::vmlDrawing) rels.push_back(r);
            if (!sc.commentsPart.empty()) dropped.insert(sc.commentsPart);
            if (!sc.vmlPart.empty()) dropped.insert(sc.vmlPart);
            if (!sheet.comments().empty()) {
                if (sc.commentsPart.empty()) sc.commentsPart = freshName("xl/comments", ".xml");
                if (sc.vmlPart.empty()) sc.vmlPart = freshName("xl/drawings/vmlDrawing", ".vml");
                dropped.erase(sc.commentsPart);
                dropped.erase(sc.vmlPart);
                emit(sc.commentsPart, writeComments(sheet));
                emitInPieces(sc.vmlPart,
                             [&](const PartSink& sink) { return writeVmlDrawing(sheet, nextVmlBlock, sink); });
                notesOverrides[i].emplace_back(sc.commentsPart, ctype::comments);
                rels.push_back({freeRelationshipId(rels), std::string(reltype::comments),
                                relativeTarget(sc.partName, sc.commentsPart), ""});
                sc.legacyRelId = freeRelationshipId(rels);
                rels.push_back(
                    {sc.legacyRelId, std::string(reltype::vmlDrawing), relativeTarget(sc.partName, sc.vmlPart), ""});
            } else {
                sc.commentsPart.clear();
                sc.vmlPart.clear();
                sc.legacyRelId.clear();
            }
            sc.rels = std::move(rels);
        }
        isWritten[i] = true;
    }

    const StringPool::Layout layout = pendingLayout.valid() ? pendingLayout.get() : layOut();
    for (std::size_t i = 0; i < book.sheets().size(); ++i) {
        overrides.insert(overrides.end(), notesOverrides[i].begin(), notesOverrides[i].end());
        if (!isWritten[i]) continue;
        Sheet& sheet = *book.sheets()[i];
        SheetCarry& sc = *sheet.carry;
        emitInPieces(sc.partName, [&](const PartSink& sink) {
            return writeWorksheet(sheet, i == book.activeIndex(), sc.legacyRelId, layout, sink);
        });
        overrides.emplace_back(sc.partName, ctype::worksheet);
        std::string relsName = relsPartOf(sc.partName);
        if (!sc.rels.empty())
            emit(relsName, writeRelationships(sc.rels));
        else
            dropped.insert(relsName);
    }

    emit(carry.sharedStringsPart, writeSharedStrings(book.strings, layout));
    overrides.emplace_back(carry.sharedStringsPart, ctype::sharedStrings);
    emit(carry.stylesPart, writeStyles(book.styles));
    overrides.emplace_back(carry.stylesPart, ctype::styles);
    emit(wbPart, writeWorkbookPart(book, &carry));
    emit(relsPartOf(wbPart), writeRelationships(wbRels));
    if (!carry.has("_rels/.rels"))
        emit("_rels/.rels", writeRelationships({{"rId1", std::string(reltype::officeDocument), wbPart, ""}}));

    // Content types: what was there, less the parts that are gone, plus ours.
    auto defaults = carry.defaultTypes;
    auto typeOverrides = carry.overrideTypes;
    if (defaults.empty() && typeOverrides.empty()) {
        defaults = {{"rels", std::string(ctype::rels)}, {"xml", "application/xml"}};
        typeOverrides.push_back({"/" + wbPart, std::string(ctype::workbook)});
    }
    if (std::none_of(defaults.begin(), defaults.end(), [](const auto& d) { return d.first == "vml"; }))
        defaults.emplace_back("vml", std::string(ctype::vml));
    typeOverrides.erase(std::remove_if(typeOverrides.begin(), typeOverrides.end(),
                                       [&](const auto& o) {
                                           std::string part =
                                               o.first.substr(o.first.empty() || o.first[0] != '/' ? 0 : 1);
                                           return dropped.count(part) > 0;
                                       }),
                        typeOverrides.end());
    for (const auto& [part, type] : overrides) {
        std::string name = "/" + part;
        auto it =
            std::find_if(typeOverrides.begin(), typeOverrides.end(), [&](const auto& o) { return o.first == name; });
        if (it == typeOverrides.end())
            typeOverrides.emplace_back(name, std::string(type));
        else
            it->second = std::string(type);
    }
    emit("[Content_Types].xml", writeContentTypes(defaults, typeOverrides));

    // Archive order: content types first, then the entries as they stood, then new ones.
    std::vector<std::string> order{"[Content_Types].xml"};
    for (const auto& n : carry.order)
        if (n != "[Content_Types].xml" && !dropped.count(n)) order.push_back(n);
    const std::set<std::string> kept(order.begin(), order.end());
    for (const auto& [n, size] : generated)
        if (!kept.count(n)) order.push_back(n);

    const bool keepsEntries = !carry.archive.empty();
    std::unique_ptr<ZipReader> source;
    if (keepsEntries) source = std::make_unique<ZipReader>(carry.archive, ReadLimits{});
    std::vector<std::string> written;
    std::uint64_t totalBytes = 0;
    for (const auto& n : order) {
        std::uint64_t size = 0;
        if (auto it = generated.find(n); it != generated.end()) {
            size = it->second;
        } else if (source && source->has(n)) {
            std::string bytes = source->read(n);
            size = bytes.size();
            zip.add(n, std::move(bytes));
        } else {
            continue;
        }
        if (size > limits.maxEntryBytes)
            refuseToWrite(n + " would hold " + megabytes(size) + ", more than the " + megabytes(limits.maxEntryBytes) +
                          " the reader takes in one part");
        totalBytes += size;
        if (totalBytes > limits.maxTotalBytes)
            refuseToWrite("the parts would hold more than the " + megabytes(limits.maxTotalBytes) +
                          " the reader takes in all (at " + n + ")");
        written.push_back(n);
        if (written.size() > limits.maxEntries)
            refuseToWrite("the file would hold more than the " + std::to_string(limits.maxEntries) +
                          " parts the reader takes");
    }
    // The text table the save leaves is built while the last parts are compressed;
    // it replaces the book's once the archive is made.
    zip.compressQueued();
    StringPool compacted = book.strings.compacted(layout);
    std::string archive = zip.finish(written);
    if (archive.size() > limits.maxFileBytes)
        refuseToWrite("the file would have " + megabytes(archive.size()) + ", more than the " +
                      megabytes(limits.maxFileBytes) + " the reader takes");

    // The table becomes what was written, so that the next save can copy sheets
    // unchanged by then as they are.
    book.strings = std::move(compacted);
    for (const auto& s : book.sheets()) s->renumberTexts(firstAdded, layout.indexOf);

    carry.workbookRels = std::move(wbRels);
    carry.defaultTypes = std::move(defaults);
    carry.overrideTypes = std::move(typeOverrides);
    if (keepsEntries) {
        source.reset();
        carry.archive = archive;
        carry.order = std::move(written);
    }
    return archive;
}

}  // namespace sheet::xlsx
