// One workbook: its sheets in tab order, the active one, the shared text table and
// the cell formats, and where it lives on disk. Guarded by the application's lock.
#pragma once

#include "automation/Backend.h"
#include "platform/File.h"
#include "sheet/Sheet.h"
#include "sheet/StringPool.h"
#include "sheet/Styles.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sheet {

struct PackageCarry;

// What a file looked like when it was last read or written, to notice changes made
// by another program.
using FileStamp = platform::FileStamp;

class Book : public automation::BookHandle {
public:
    explicit Book(std::u16string name) : name_(std::move(name)) {}
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;
    ~Book() override;

    const std::u16string& name() const noexcept { return name_; }
    void setName(std::u16string name) { name_ = std::move(name); }

    std::vector<std::shared_ptr<Sheet>>& sheets() noexcept { return sheets_; }
    const std::vector<std::shared_ptr<Sheet>>& sheets() const noexcept { return sheets_; }
    // Index into sheets(); 0 when there are none.
    std::size_t activeIndex() const noexcept { return active_; }
    void setActiveIndex(std::size_t index);
    std::shared_ptr<Sheet> activeSheet() const;
    // Shows or hides the sheet at index under the rules spreadsheet programs keep: a
    // workbook keeps one visible sheet, and hiding the active sheet makes the next
    // visible sheet active (the one before it, when none follows). Returns why it
    // was refused, empty when done.
    std::string setSheetVisibility(std::size_t index, Visibility visibility);
    // The visible sheet the active one is handed to when the sheet at index is
    // hidden; none when no other sheet is visible.
    std::optional<std::size_t> visibleNeighbour(std::size_t index) const;
    // Index of a sheet whose name equals name without regard to case, if any.
    std::optional<std::size_t> findSheet(std::u16string_view name) const;

    // Adds an empty sheet at index (clamped) and returns it.
    std::shared_ptr<Sheet> insertSheet(std::size_t index, std::u16string name);
    // The name a new sheet gets: "Sheet" + the next free number.
    std::u16string nextSheetName();

    StringPool strings;
    Styles styles;
    // The date system the workbook's numbers count in: serial 0 is 1904-01-01 rather
    // than the day before 1900-01-01 (the file keeps it, and the writer with it).
    bool isDate1904 = false;

    // Where the workbook is saved; empty for none.
    std::string path;
    FileStamp stamp;
    // A version of the file that failed to read (another program still writing
    // it, say); not tried again until the file changes once more. Why it failed,
    // and how many looks found the file still that version: one that stays is told
    // once, and a file being written, which changes from look to look, never is.
    FileStamp unreadableStamp;
    std::string unreadableReason;
    int unreadableLooks = 0;
    // The last save problem told for this workbook, so that a save failing again the
    // same way at the end of every command is told once.
    std::string toldSaveProblem;
    // Why the workbook cannot be changed (content that could not be written back);
    // empty when it can.
    std::string readOnlyReason;
    // The sheet order, names or active sheet changed since the last save.
    bool isStructureChanged = false;
    bool isChanged() const;
    void markSaved();

    std::shared_ptr<PackageCarry> carry;

private:
    std::u16string name_;
    std::vector<std::shared_ptr<Sheet>> sheets_;
    std::size_t active_ = 0;
    int sheetCounter_ = 0;
};

}  // namespace sheet
