#include "module/export/BlockCollection.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "platform/MessageBox.h"

#include <memory>

namespace tabro {

bool collectBlockNames(BlockNameMap& blocks) {
    ResourceScope scope;
    if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase()) {
        AcDbBlockTable* rawTable = nullptr;
        if (db->getSymbolTable(rawTable, AcDb::kForRead) == Acad::eOk && rawTable) {
            AcDbObjectPointer<AcDbBlockTable> table;
            table.adopt(rawTable);
            AcDbBlockTableIterator* rawIterator = nullptr;
            if (table->newIterator(rawIterator, true, true) == Acad::eOk && rawIterator) {
                std::unique_ptr<AcDbBlockTableIterator> it(rawIterator);
                for (; !it->done(); it->step()) {
                    AcDbBlockTableRecord* rawRecord = nullptr;
                    if (it->getRecord(rawRecord, AcDb::kForRead) != Acad::eOk || !rawRecord) continue;
                    AcDbObjectPointer<AcDbBlockTableRecord> record;
                    record.adopt(rawRecord);
                    const char* name = nullptr;
                    if (record->isAnonymous() || record->getName(name) != Acad::eOk || !name) continue;
                    if (isLayoutBlockName(name)) continue;
                    blocks.set(name, record->hasAttributeDefinitions());
                }
            }
        }
    }
    if (!blocks.empty()) return true;
    const std::string text = resourceStrings().load(kTextNoBlocks);
    const std::string caption = resourceStrings().load(kTextErrorCaption);
    MessageBoxA(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    return false;
}

std::vector<std::string> blockNamesFromAnswer(const BlockNameMap& blocks, const std::string& answer,
                                              std::vector<std::string>* unknown) {
    std::vector<std::string> names;
    if (answer.empty()) {
        for (const BlockNameMap::Entry& e : blocks)
            if (!isLayoutBlockName(e.name.c_str())) names.push_back(e.name);
        return names;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = answer.find(',', start);
        const std::string piece = answer.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!piece.empty() && blocks.findNoCase(piece))
            names.push_back(piece);
        else if (!piece.empty() && unknown)
            unknown->push_back(piece);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return names;
}

bool askBlockNames(const BlockNameMap& blocks, std::vector<std::string>& names) {
    const std::string prompt = resourceStrings().load(kTextBlockNamePrompt);
    char answer[ADS_INPUT_BUFFER] = {};
    if (acedGetString(1, prompt.c_str(), answer) != RTNORM) return false;
    std::vector<std::string> unknown;
    std::vector<std::string> typed = blockNamesFromAnswer(blocks, answer, &unknown);
    // A typed name that exports nothing says so: a misspelt or blank-padded name
    // would otherwise look like a block without references.
    for (const std::string& piece : unknown)
        acutPrintf("%s", formatText(kTextNoSuchBlock, cutForMessage(piece).c_str()).c_str());
    names.insert(names.end(), typed.begin(), typed.end());
    return true;
}

}  // namespace tabro
