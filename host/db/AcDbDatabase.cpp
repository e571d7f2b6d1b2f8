#include "host/db/AcDbDatabase.h"

#include "host/db/DrawingStore.h"
#include "host/dxf/DxfTokenizer.h"

#include <cstdio>

namespace {

// The drawing a new database starts from: the smallest file every DXF reader takes,
// read through the same path as any other drawing.
std::string emptyDrawingText() {
    const char* lines[] = {
        "0",  "SECTION",
        "2",  "HEADER",
        "9",  "$ACADVER",
        "1",  "AC1009",
        "9",  "$DWGCODEPAGE",
        "3",  "ANSI_1252",
        "9",  "$INSBASE",
        "10", "0.0",
        "20", "0.0",
        "30", "0.0",
        "9",  "$LUNITS",
        "70", "2",
        "9",  "$LUPREC",
        "70", "4",
        "9",  "$AUNITS",
        "70", "0",
        "9",  "$AUPREC",
        "70", "0",
        "9",  "$ANGBASE",
        "50", "0.0",
        "9",  "$ANGDIR",
        "70", "0",
        "9",  "$TILEMODE",
        "70", "1",
        "9",  "$CLAYER",
        "8",  "0",
        "9",  "$DIMZIN",
        "70", "0",
        "9",  "$HANDLING",
        "70", "1",
        "9",  "$HANDSEED",
        "5",  "20",
        "0",  "ENDSEC",
        "0",  "SECTION",
        "2",  "TABLES",
        "0",  "TABLE",
        "2",  "LTYPE",
        "70", "1",
        "0",  "LTYPE",
        "5",  "10",
        "2",  "CONTINUOUS",
        "70", "0",
        "3",  "Solid line",
        "72", "65",
        "73", "0",
        "40", "0.0",
        "0",  "ENDTAB",
        "0",  "TABLE",
        "2",  "LAYER",
        "70", "1",
        "0",  "LAYER",
        "5",  "11",
        "2",  "0",
        "70", "0",
        "62", "7",
        "6",  "CONTINUOUS",
        "0",  "ENDTAB",
        "0",  "TABLE",
        "2",  "STYLE",
        "70", "1",
        "0",  "STYLE",
        "5",  "12",
        "2",  "STANDARD",
        "70", "0",
        "40", "0.0",
        "41", "1.0",
        "50", "0.0",
        "71", "0",
        "42", "2.5",
        "3",  "txt",
        "4",  "",
        "0",  "ENDTAB",
        "0",  "ENDSEC",
        "0",  "SECTION",
        "2",  "BLOCKS",
        "0",  "BLOCK",
        "5",  "13",
        "8",  "0",
        "2",  "$MODEL_SPACE",
        "70", "0",
        "10", "0.0",
        "20", "0.0",
        "30", "0.0",
        "3",  "$MODEL_SPACE",
        "1",  "",
        "0",  "ENDBLK",
        "5",  "14",
        "8",  "0",
        "0",  "BLOCK",
        "5",  "15",
        "67", "1",
        "8",  "0",
        "2",  "$PAPER_SPACE",
        "70", "0",
        "10", "0.0",
        "20", "0.0",
        "30", "0.0",
        "3",  "$PAPER_SPACE",
        "1",  "",
        "0",  "ENDBLK",
        "5",  "16",
        "67", "1",
        "8",  "0",
        "0",  "ENDSEC",
        "0",  "SECTION",
        "2",  "ENTITIES",
        "0",  "ENDSEC",
        "0",  "EOF",
    };
    std::string text;
    for (const char* l : lines) {
        text += l;
        text += '\n';
    }
    return text;
}

}  // namespace

AcDbDatabase::AcDbDatabase()
    : AcDbDatabase(std::make_unique<hostdb::DrawingStore>(hostbytes::DrawingBytes(emptyDrawingText()))) {}

AcDbDatabase::AcDbDatabase(std::unique_ptr<hostdb::DrawingStore> store) : store_(std::move(store)) {
    store_->setDatabase(this);
}

AcDbDatabase::~AcDbDatabase() {
    if (acdbHostApplicationServices()->workingDatabase() == this)
        acdbHostApplicationServices()->setWorkingDatabase(nullptr);
}

Acad::ErrorStatus AcDbDatabase::getSymbolTable(AcDbBlockTable*& table, AcDb::OpenMode mode) const {
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, blockTableId(), mode);
    table = es == Acad::eOk ? static_cast<AcDbBlockTable*>(obj) : nullptr;
    return es;
}

Acad::ErrorStatus AcDbDatabase::getSymbolTable(AcDbLayerTable*& table, AcDb::OpenMode mode) const {
    AcDbObject* obj = nullptr;
    Acad::ErrorStatus es = acdbOpenAcDbObject(obj, layerTableId(), mode);
    table = es == Acad::eOk ? static_cast<AcDbLayerTable*>(obj) : nullptr;
    return es;
}

Acad::ErrorStatus AcDbDatabase::getAcDbObjectId(AcDbObjectId& id, bool createIfNotFound, const AcDbHandle& handle,
                                                std::uint32_t) const {
    id = AcDbObjectId();
    if (handle.isNull()) return Acad::eNullHandle;
    if (hostdb::ObjectStub* s = store_->stubOfHandle(handle.value())) {
        id = AcDbObjectId(s);
        return Acad::eOk;
    }
    return createIfNotFound ? Acad::eNotImplementedYet : Acad::eUnknownHandle;
}

AcDbObjectId AcDbDatabase::blockTableId() const { return AcDbObjectId(store_->blockTable()); }
AcDbObjectId AcDbDatabase::layerTableId() const { return AcDbObjectId(store_->layerTable()); }
AcDbObjectId AcDbDatabase::modelSpaceId() const { return AcDbObjectId(store_->modelSpace()); }
AcDbObjectId AcDbDatabase::paperSpaceId() const { return AcDbObjectId(store_->paperSpace()); }

int AcDbDatabase::lunits() const { return store_->headerInt(hostdb::hLunits, 2); }
int AcDbDatabase::luprec() const { return store_->headerInt(hostdb::hLuprec, 4); }
int AcDbDatabase::aunits() const { return store_->headerInt(hostdb::hAunits, 0); }
int AcDbDatabase::auprec() const { return store_->headerInt(hostdb::hAuprec, 0); }
int AcDbDatabase::dimzin() const { return store_->headerInt(hostdb::hDimzin, 0); }
double AcDbDatabase::angbase() const { return dxf::toDouble(store_->header(hostdb::hAngbase).value); }
bool AcDbDatabase::angdir() const { return store_->headerInt(hostdb::hAngdir, 0) != 0; }
bool AcDbDatabase::tilemode() const { return store_->headerInt(hostdb::hTilemode, 1) != 0; }
std::string AcDbDatabase::clayer() const {
    const std::string& v = store_->header(hostdb::hClayer).value;
    return v.empty() ? "0" : store_->codec().decode(v);
}

static Acad::ErrorStatus setRanged(hostdb::DrawingStore& s, hostdb::HeaderId id, int v, int lo, int hi) {
    if (v < lo || v > hi) return Acad::eInvalidInput;
    s.setHeader(id, std::to_string(v));
    return Acad::eOk;
}
Acad::ErrorStatus AcDbDatabase::setLunits(int u) { return setRanged(*store_, hostdb::hLunits, u, 1, 5); }
Acad::ErrorStatus AcDbDatabase::setLuprec(int p) { return setRanged(*store_, hostdb::hLuprec, p, 0, 8); }
Acad::ErrorStatus AcDbDatabase::setAunits(int u) { return setRanged(*store_, hostdb::hAunits, u, 0, 4); }
Acad::ErrorStatus AcDbDatabase::setAuprec(int p) { return setRanged(*store_, hostdb::hAuprec, p, 0, 8); }
Acad::ErrorStatus AcDbDatabase::setDimzin(int f) { return setRanged(*store_, hostdb::hDimzin, f, 0, 15); }
Acad::ErrorStatus AcDbDatabase::setTilemode(bool model) {
    return setRanged(*store_, hostdb::hTilemode, model ? 1 : 0, 0, 1);
}

std::string AcDbDatabase::version() const { return store_->header(hostdb::hAcadVer).value; }
std::string AcDbDatabase::codePage() const { return store_->header(hostdb::hCodePage).value; }
static_assert(AcDbDatabase::kMostTextBytes == dxf::kMaxLineBytes, "a text the reader refuses would be saved");

std::size_t AcDbDatabase::textInFile(std::string_view text, std::string* stored) const {
    const dxf::TextCodec& codec = store_->codec();
    std::string bytes = codec.encode(text);
    if (stored) *stored = codec.decode(bytes);
    return bytes.size();
}

std::string AcDbDatabase::fingerprintGuid() const { return store_->header(hostdb::hFingerprintGuid).value; }
AcDbHandle AcDbDatabase::handseed() const { return AcDbHandle(store_->header(hostdb::hHandSeed).value.c_str()); }

std::string AcDbDatabase::activeLayoutName() const {
    if (tilemode()) return "Model";
    // The active paper space layout is the one whose block is *Paper_Space.
    std::uint64_t paper = store_->paperSpace()->handle;
    for (const auto& l : store_->layouts())
        if (l.blockHandle == paper && !l.name.empty()) return store_->codec().decode(l.name);
    return "Layout1";
}

bool AcDbDatabase::isModified() const { return store_->isModified(); }
void AcDbDatabase::setModified(bool modified) { store_->setModified(modified); }
const std::string& AcDbDatabase::fileName() const { return store_->fileName(); }
void AcDbDatabase::setFileName(std::string path) { store_->setFileName(std::move(path)); }
void AcDbDatabase::disableUndoRecording(bool disable) { store_->undoHistory().setRecording(!disable); }
bool AcDbDatabase::undoRecording() const { return store_->undoHistory().isRecording(); }
std::size_t AcDbDatabase::openObjectCount() const { return store_->openCount(); }

const char* AcDbLayoutManager::findActiveLayout(bool allowModel) {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    if (!db) return nullptr;
    if (db->tilemode() && !allowModel) return nullptr;
    last_ = db->activeLayoutName();
    return last_.c_str();
}

AcDbHostApplicationServices* acdbHostApplicationServices() {
    static AcDbHostApplicationServices services;
    return &services;
}
