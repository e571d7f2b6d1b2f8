// The drawing database: every object of one drawing, its header variables, and the
// DXF text it came from, kept so that whatever is not modelled travels through a save
// unchanged. The host services name the working database and the layout manager.
#pragma once

#include "host/db/AcDbEntities.h"
#include "host/db/AcDbObject.h"
#include "host/db/AcDbSymbolTables.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace hostdb {
class DrawingStore;
}

class AcDbDatabase {
public:
    // A new empty drawing as the host makes one: model space, paper space, layer "0",
    // decimal units with precision 4, decimal degrees with precision 0.
    AcDbDatabase();
    explicit AcDbDatabase(std::unique_ptr<hostdb::DrawingStore> store);
    ~AcDbDatabase();
    AcDbDatabase(const AcDbDatabase&) = delete;
    AcDbDatabase& operator=(const AcDbDatabase&) = delete;

    [[nodiscard]] Acad::ErrorStatus getSymbolTable(AcDbBlockTable*& table, AcDb::OpenMode mode) const;
    [[nodiscard]] Acad::ErrorStatus getSymbolTable(AcDbLayerTable*& table, AcDb::OpenMode mode) const;
    [[nodiscard]] Acad::ErrorStatus getBlockTable(AcDbBlockTable*& table, AcDb::OpenMode mode) const {
        return getSymbolTable(table, mode);
    }
    // The object with this handle, modelled or not (an object of the OBJECTS section
    // opens as a plain AcDbObject). Without createIfNotFound an unknown handle gives
    // eUnknownHandle (creating ids for handles is not supported: eNotImplementedYet).
    [[nodiscard]] Acad::ErrorStatus getAcDbObjectId(AcDbObjectId& id, bool createIfNotFound, const AcDbHandle& handle,
                                                    std::uint32_t xRefId = 0) const;
    AcDbObjectId blockTableId() const;
    AcDbObjectId layerTableId() const;
    AcDbObjectId modelSpaceId() const;
    AcDbObjectId paperSpaceId() const;  // the active paper space layout's block

    // Header variables the database uses; setters mark the drawing modified and are
    // written back on save.
    int lunits() const;
    int luprec() const;
    int aunits() const;
    int auprec() const;
    int dimzin() const;
    double angbase() const;
    bool angdir() const;  // true: clockwise
    bool tilemode() const;
    std::string clayer() const;
    [[nodiscard]] Acad::ErrorStatus setLunits(int units);  // 1..5
    [[nodiscard]] Acad::ErrorStatus setLuprec(int prec);   // 0..8
    [[nodiscard]] Acad::ErrorStatus setAunits(int units);  // 0..4
    [[nodiscard]] Acad::ErrorStatus setAuprec(int prec);   // 0..8
    [[nodiscard]] Acad::ErrorStatus setDimzin(int flags);
    [[nodiscard]] Acad::ErrorStatus setTilemode(bool model);
    std::string version() const;   // $ACADVER, "AC1015"
    std::string codePage() const;  // $DWGCODEPAGE as written, "" when absent
    // The most bytes one text may take in the drawing's file: the host opens no file
    // with a longer line, so a longer text would be saved into a drawing it cannot
    // open again.
    static constexpr std::size_t kMostTextBytes = std::size_t{1} << 20;
    // A text as this drawing's file carries it (up to R2004 in its code page, with
    // \U+XXXX escapes for the characters the page lacks; UTF-8 from R2007): returns
    // the bytes it takes there, and gives in `stored` the text as the drawing holds
    // it once saved and opened again (U+FFFD for bytes that are no UTF-8).
    std::size_t textInFile(std::string_view text, std::string* stored = nullptr) const;
    // $FINGERPRINTGUID: set when the drawing was first made and kept through every
    // save and copy, so it names the drawing whatever its file is called; "" when
    // the file has none (DXF R12, some other programs' files).
    std::string fingerprintGuid() const;
    AcDbHandle handseed() const;

    // The layout the drawing shows: "Model" when model space is active, else the
    // name of the active paper space layout.
    std::string activeLayoutName() const;

    // Changed since opened or last saved (the host's DBMOD).
    bool isModified() const;
    void setModified(bool modified);
    // The file this drawing was read from or last saved to ("" for a new drawing).
    const std::string& fileName() const;
    void setFileName(std::string path);

    // What each command changes is recorded for the host's U, UNDO and REDO (from the
    // start, for every database). Disabling drops what was recorded.
    void disableUndoRecording(bool disable);
    bool undoRecording() const;

    // Objects open at the moment (readers and writers), for leak checks in tests.
    std::size_t openObjectCount() const;

    hostdb::DrawingStore& store() const { return *store_; }

private:
    std::unique_ptr<hostdb::DrawingStore> store_;
};

// The host's layout manager (the part the module calls).
class AcDbLayoutManager {
public:
    // The active layout's name; with allowModel false, nothing while model space is
    // active. Null when there is no working database. Valid until the next call.
    const char* findActiveLayout(bool allowModel);

private:
    std::string last_;
};

class AcDbHostApplicationServices {
public:
    AcDbDatabase* workingDatabase() const { return working_; }
    void setWorkingDatabase(AcDbDatabase* db) { working_ = db; }
    AcDbLayoutManager* layoutManager() { return &layouts_; }

private:
    AcDbDatabase* working_ = nullptr;
    AcDbLayoutManager layouts_;
};

AcDbHostApplicationServices* acdbHostApplicationServices();

// Holds a database as the working database for a scope and restores the previous
// one on every way out.
class WorkingDatabaseScope {
public:
    explicit WorkingDatabaseScope(AcDbDatabase* db) : previous_(acdbHostApplicationServices()->workingDatabase()) {
        acdbHostApplicationServices()->setWorkingDatabase(db);
    }
    ~WorkingDatabaseScope() { acdbHostApplicationServices()->setWorkingDatabase(previous_); }
    WorkingDatabaseScope(const WorkingDatabaseScope&) = delete;
    WorkingDatabaseScope& operator=(const WorkingDatabaseScope&) = delete;

private:
    AcDbDatabase* previous_;
};
