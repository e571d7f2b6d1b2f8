// The drawing the import tests start from (import_blocks.dxf, see make_fixture.py),
// read into a real database that is the working database for the test, with reads
// of what a user would look at: a reference's properties and its attributes.
#pragma once

#include "host/db/AcDbDatabase.h"
#include "host/db/DrawingFile.h"

#include "module/drawing/ReferenceEditor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tabro::testing {

struct AttributeState {
    std::string tag;
    std::string text;
    AcGePoint3d position;
    int fieldLength = 0;
};

struct ReferenceState {
    AcGePoint3d position;
    double rotation = 0;
    AcGeScale3d scale;
    std::string layer;
    std::vector<AttributeState> attributes;
};

// The steps of the reference editor on one handle, opened and closed around each, as
// a row or a changed cell uses them.
inline bool applyAttributes(std::string_view handle, std::span<const std::string> tags,
                            std::span<const std::string> values, int firstOccurrence = 0) {
    ReferenceEditor editor;
    return editor.open(handle, AcDb::kForRead) == Acad::eOk && editor.applyAttributes(tags, values, firstOccurrence);
}
template <class Step>
bool applyStep(std::string_view handle, Step step) {
    ReferenceEditor editor;
    if (editor.open(handle, AcDb::kForWrite) != Acad::eOk || step(editor) != Acad::eOk) return false;
    return editor.finish();
}
inline bool applyPosition(std::string_view handle, const AcGePoint3d& p) {
    return applyStep(handle, [&](ReferenceEditor& e) { return e.applyPosition(p); });
}
inline bool applyScale(std::string_view handle, const AcGeScale3d& s) {
    return applyStep(handle, [&](ReferenceEditor& e) { return e.applyScale(s); });
}
inline bool applyRotation(std::string_view handle, double radians) {
    return applyStep(handle, [&](ReferenceEditor& e) { return e.applyRotation(radians); });
}
inline bool applyLayer(std::string_view handle, const char* layer) {
    return applyStep(handle, [&](ReferenceEditor& e) { return e.applyLayer(layer); });
}

class ImportDrawingTest : public ::testing::Test {
protected:
    static constexpr const char* kOtherEntity = "<the line>";

    static std::string fixturePath() {
        return (std::filesystem::path(TABLORA_TESTS_DIR) / "module/import/import_blocks.dxf").string();
    }

    void SetUp() override {
        DrawingOpenResult opened = openDrawingFile(fixturePath());
        ASSERT_TRUE(opened) << opened.error;
        db_ = std::move(opened.database);
        scope_.emplace(db_.get());
    }

    // No step may leave an object open, whatever its outcome.
    void TearDown() override {
        if (db_) {
            EXPECT_EQ(db_->openObjectCount(), 0u);
        }
        scope_.reset();
    }

    // Handle text of the model-space reference whose first attribute reads `key`, or
    // with kOtherEntity, of the first entity that is no block reference.
    std::string handleOf(const std::string& key) const {
        std::string found;
        forEachModelSpaceEntity([&](AcDbEntity* entity) {
            if (!found.empty()) return;
            if (auto* reference = AcDbBlockReference::cast(entity)) {
                std::unique_ptr<AcDbObjectIterator> it(reference->attributeIterator());
                it->start();
                if (it->done()) return;
                AcDbAttribute* attribute = nullptr;
                if (reference->openAttribute(attribute, it->objectId(), AcDb::kForRead) != Acad::eOk) return;
                AcutString text(attribute->textString());
                (void)attribute->close();
                if (key == text.get()) found = handleText(entity);
            } else if (key == kOtherEntity) {
                found = handleText(entity);
            }
        });
        EXPECT_FALSE(found.empty()) << key;
        return found;
    }

    ReferenceState stateOf(const std::string& handle) const {
        ReferenceState state;
        AcDbObjectId id;
        EXPECT_EQ(db_->getAcDbObjectId(id, false, AcDbHandle(handle.c_str())), Acad::eOk);
        AcDbObjectPointer<AcDbEntity> entity;
        AcDbEntity* raw = nullptr;
        EXPECT_EQ(acdbOpenAcDbEntity(raw, id, AcDb::kForRead), Acad::eOk);
        if (!raw) return state;
        entity.adopt(raw);
        AcutString layer(entity->layer());
        state.layer = layer.get();
        auto* reference = AcDbBlockReference::cast(raw);
        if (!reference) return state;
        state.position = reference->position();
        state.rotation = reference->rotation();
        state.scale = reference->scaleFactors();
        std::unique_ptr<AcDbObjectIterator> it(reference->attributeIterator());
        for (it->start(); !it->done(); it->step()) {
            AcDbAttribute* attribute = nullptr;
            if (reference->openAttribute(attribute, it->objectId(), AcDb::kForRead) != Acad::eOk) continue;
            AcutString tag(attribute->tag()), text(attribute->textString());
            state.attributes.push_back({tag.get(), text.get(), attribute->position(), attribute->fieldLength()});
            (void)attribute->close();
        }
        return state;
    }

    static std::string textOf(const ReferenceState& state, const std::string& tag) {
        for (const AttributeState& a : state.attributes)
            if (a.tag == tag) return a.text;
        return "<none>";
    }

    AcDbDatabase& db() const { return *db_; }

private:
    template <class F>
    void forEachModelSpaceEntity(F visit) const {
        AcDbBlockTable* table = nullptr;
        ASSERT_EQ(db_->getSymbolTable(table, AcDb::kForRead), Acad::eOk);
        AcDbBlockTableRecord* space = nullptr;
        Acad::ErrorStatus es = table->getAt(ACDB_MODEL_SPACE, space, AcDb::kForRead);
        (void)table->close();
        ASSERT_EQ(es, Acad::eOk);
        AcDbBlockTableRecordIterator* raw = nullptr;
        EXPECT_EQ(space->newIterator(raw), Acad::eOk);
        std::unique_ptr<AcDbBlockTableRecordIterator> it(raw);
        for (; it && !it->done(); it->step()) {
            AcDbEntity* entity = nullptr;
            if (it->getEntity(entity, AcDb::kForRead) != Acad::eOk) continue;
            visit(entity);
            (void)entity->close();
        }
        (void)space->close();
    }

    static std::string handleText(const AcDbObject* object) {
        char text[17];
        object->handle().getIntoAsciiBuffer(text, sizeof text);
        return text;
    }

    std::unique_ptr<AcDbDatabase> db_;
    std::optional<WorkingDatabaseScope> scope_;
};

}  // namespace tabro::testing
