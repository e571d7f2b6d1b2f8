// Fields: the objects whose text is a field are found through their extension
// dictionary, the field's id names the FIELD object, and unlinking a field takes out
// of the saved drawing what editing the text in the CAD program does (the ACAD_FIELD
// entry, the FIELD objects and all they own, their places in the FIELDLIST) and
// nothing else, in ASCII and binary DXF, undone and redone with the host's U and
// REDO.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbEntities.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"

#include <gtest/gtest.h>

#include "tests/common/TestFiles.h"
#include "tests/host/db/DrawingLookup.h"
#include "tests/host/db/DxfTextTags.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using tabro::testing::attributesOf;
using tabro::testing::hexOf;
using tabro::testing::objectsByHandle;
using tabro::testing::sameText;
using tabro::testing::tagLines;
using tabro::testing::TextObject;
using tabro::testing::TextTag;

std::string fixturePath() { return std::string(TABLORA_FIXTURES_DIR) + "/dxf/mtext_fields.dxf"; }

// The handle a tag names, as the file writes handles (upper case, no leading zeros).
std::string handleIn(const std::string& value) {
    std::string h = value;
    h.erase(0, h.find_first_not_of(' '));
    h.erase(h.find_last_not_of(' ') + 1);
    std::transform(h.begin(), h.end(), h.begin(), ::toupper);
    h.erase(0, std::min(h.find_first_not_of('0'), h.size() - 1));
    return h;
}

// How the text links an object's fields: its extension dictionary, the ACAD_FIELD
// entry there (the index of its group 3) and the field dictionary it names.
struct Link {
    std::string xdict, fieldDict;
    std::size_t entry = 0;
};

Link linkOf(const std::map<std::string, TextObject>& objects, const std::string& handle) {
    Link link;
    const std::vector<TextTag>& own = objects.at(handle).tags;
    for (std::size_t i = 0; i + 1 < own.size(); ++i)
        if (own[i].code == 102 && own[i].value == "{ACAD_XDICTIONARY" && own[i + 1].code == 360)
            link.xdict = handleIn(own[i + 1].value);
    if (!objects.count(link.xdict)) return {};
    const std::vector<TextTag>& x = objects.at(link.xdict).tags;
    for (std::size_t i = 0; i + 1 < x.size(); ++i)
        if (x[i].code == 3 && x[i].value == "ACAD_FIELD") {
            link.entry = i;
            link.fieldDict = handleIn(x[i + 1].value);
        }
    return link;
}

// The FIELD of the object's property, as the text names it; "" for none.
std::string fieldOf(const std::string& text, const std::string& handle, const std::string& property = "TEXT") {
    const auto objects = objectsByHandle(text);
    const Link link = linkOf(objects, handle);
    if (!objects.count(link.fieldDict)) return "";
    const std::vector<TextTag>& d = objects.at(link.fieldDict).tags;
    for (std::size_t i = 0; i + 1 < d.size(); ++i)
        if (d[i].code == 3 && d[i].value == property) return handleIn(d[i + 1].value);
    return "";
}

struct Edit {
    std::size_t begin, end;
    std::string text;
};

std::string applied(std::string text, std::vector<Edit> edits) {
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
    for (const Edit& e : edits) text.replace(e.begin, e.end - e.begin, e.text);
    return text;
}

// What a save must write after every field of the objects `unlinked` was removed,
// worked out from the text alone: each object's ACAD_FIELD entry (group 3 and 360)
// out of its extension dictionary, the field dictionary out, the FIELD objects it
// names and everything those own (360) out, their 330 tags out of the FIELDLIST and
// its count (90, as wide as it was) less as many; every other byte as it was.
std::string unlinkedText(const std::string& before, const std::vector<std::string>& unlinked) {
    const auto objects = objectsByHandle(before);
    std::vector<Edit> edits;
    std::set<std::string> gone;
    std::vector<std::string> pending;
    for (const std::string& handle : unlinked) {
        const Link link = linkOf(objects, handle);
        const std::vector<TextTag>& x = objects.at(link.xdict).tags;
        edits.push_back({x[link.entry].begin, x[link.entry + 1].end, ""});
        const TextObject& dict = objects.at(link.fieldDict);
        edits.push_back({dict.begin, dict.end, ""});
        for (const TextTag& t : dict.tags)
            if (t.code == 360) pending.push_back(handleIn(t.value));
    }
    while (!pending.empty()) {
        const std::string h = pending.back();
        pending.pop_back();
        if (!gone.insert(h).second || !objects.count(h)) continue;
        const TextObject& o = objects.at(h);
        edits.push_back({o.begin, o.end, ""});
        for (const TextTag& t : o.tags)
            if (t.code == 360) pending.push_back(handleIn(t.value));
    }
    for (const auto& [handle, o] : objects) {
        if (o.type != "FIELDLIST") continue;
        bool data = false;
        const TextTag* count = nullptr;
        int dropped = 0;
        for (const TextTag& t : o.tags) {
            data = data || t.code == 100;
            if (data && t.code == 90 && !count) count = &t;
            if (data && t.code == 330 && gone.count(handleIn(t.value))) {
                edits.push_back({t.begin, t.end, ""});
                ++dropped;
            }
        }
        if (count && dropped) {
            std::string value = std::to_string(std::stoi(count->value) - dropped);
            value.insert(0, count->value.size() - value.size(), ' ');
            const std::size_t at = before.find('\n', count->begin) + 1;
            edits.push_back({at, at + count->value.size(), value});
        }
    }
    return applied(before, edits);
}

bool hasFields(AcDbObjectId id) {
    AcDbObjectPointer<AcDbObject> o(id, AcDb::kForRead);
    return o && o->hasFields();
}

Acad::ErrorStatus removeField(AcDbObjectId id, const char* property = "TEXT") {
    AcDbObjectPointer<AcDbObject> o(id, AcDb::kForWrite);
    if (!o) return o.openStatus();
    return o->removeField(property);
}

std::string textOf(AcDbObjectId id) {
    AcDbObjectPointer<AcDbText> t(id, AcDb::kForRead);
    return t ? AcutString(t->textString()).get() : "(does not open)";
}

// Whether two files are the same drawing tag for tag (tools/dxf_compare.py, a reader
// apart from the database), whatever form each is in.
bool sameDrawing(const std::string& a, const std::string& b) {
    tabro::testing::TempDir dir("host-fields");
    tabro::testing::writeFile(dir.file("a.dxf"), a);
    tabro::testing::writeFile(dir.file("b.dxf"), b);
    const std::string cmd = tabro::testing::toolCommand("dxf_compare.py") + " '" + dir.file("a.dxf") + "' '" +
                            dir.file("b.dxf") + "' >/dev/null";
    return std::system(cmd.c_str()) == 0;
}

class FieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        original = tabro::testing::readFile(fixturePath());
        open(original);
    }
    void TearDown() override {
        if (db) {
            EXPECT_EQ(db->openObjectCount(), 0u);
        }
    }
    void open(const std::string& text) {
        auto r = openDrawingText(text, "mtext_fields.dxf");
        ASSERT_TRUE(r) << r.error;
        db = std::move(r.database);
        date101 = attributesOf(*db, "A-101")["DATE"];
        date102 = attributesOf(*db, "A-102")["DATE"];
        date103 = attributesOf(*db, "A-103")["DATE"];
        plotText = AcDbObjectId();
        hostdb::DrawingStore& store = db->store();
        for (std::uint32_t i = 0; i < store.stubCount(); ++i)
            if (store.stubAt(i)->kind == hostdb::Kind::Text) plotText = AcDbObjectId(store.stubAt(i));
        ASSERT_FALSE(plotText.isNull());
    }
    std::string save(dxf::DxfFormat format = dxf::DxfFormat::Ascii) {
        db->store().setSaveFormat(format);
        return writeDrawingText(*db);
    }

public:
    std::string original;
    std::unique_ptr<AcDbDatabase> db;
    // The DATE attributes of the three references (A-103's is no field) and the text.
    AcDbObjectId date101, date102, date103, plotText;
};

}  // namespace

TEST_F(FieldTest, ObjectsWhoseTextIsAFieldAreFoundAndTheFieldHasAnId) {
    for (AcDbObjectId id : {date101, date102, plotText}) {
        SCOPED_TRACE(hexOf(id));
        EXPECT_TRUE(hasFields(id));
        AcDbObjectPointer<AcDbObject> o(id, AcDb::kForRead);
        AcDbObjectId field;
        ASSERT_EQ(o->getField("TEXT", field), Acad::eOk);
        EXPECT_EQ(hexOf(field), fieldOf(original, hexOf(id)));
        AcDbObjectId again, byHandle;
        EXPECT_EQ(o->getField("text", again), Acad::eOk) << "property names are keys without case";
        EXPECT_EQ(again, field) << "one object, one id";
        EXPECT_EQ(db->getAcDbObjectId(byHandle, false, field.handle()), Acad::eOk);
        EXPECT_EQ(byHandle, field);
        EXPECT_EQ(field.database(), db.get());
        AcDbObjectPointer<AcDbObject> fieldObject(field, AcDb::kForWrite);
        ASSERT_TRUE(fieldObject) << "the field opens";
        EXPECT_EQ(fieldObject->isA(), AcDbObject::desc());
        EXPECT_EQ(fieldObject->erase(), Acad::eNotApplicable) << "a field goes with its text's link, not alone";
        EXPECT_EQ(o->getField("VALUE", field), Acad::eKeyNotFound);
        EXPECT_TRUE(field.isNull());
        EXPECT_EQ(o->getField(nullptr, field), Acad::eInvalidInput);
    }
    const AcDbObjectId notes = attributesOf(*db, "A-101")["NOTES"];
    for (AcDbObjectId id : {date103, notes, attributesOf(*db, "A-101")["NUMBER"], db->modelSpaceId()}) {
        SCOPED_TRACE(hexOf(id));
        EXPECT_FALSE(hasFields(id));
        AcDbObjectPointer<AcDbObject> o(id, AcDb::kForRead);
        AcDbObjectId field;
        EXPECT_EQ(o->getField("TEXT", field), Acad::eKeyNotFound);
    }
    EXPECT_TRUE(sameText(save(), original)) << "reading fields changes nothing";
}

TEST_F(FieldTest, RemovingAFieldAsksForAWriteOpenAndAFieldThere) {
    {
        AcDbObjectPointer<AcDbObject> read(date101, AcDb::kForRead);
        EXPECT_EQ(read->removeField("TEXT"), Acad::eNotOpenForWrite);
    }
    AcDbObjectPointer<AcDbObject> o(date101, AcDb::kForWrite);
    EXPECT_EQ(o->removeField(nullptr), Acad::eInvalidInput);
    EXPECT_EQ(o->removeField("VALUE"), Acad::eKeyNotFound);
    ASSERT_EQ(o->removeField("TEXT"), Acad::eOk);
    EXPECT_FALSE(o->hasFields());
    AcDbObjectId field;
    EXPECT_EQ(o->getField("TEXT", field), Acad::eKeyNotFound);
    EXPECT_EQ(o->removeField("TEXT"), Acad::eKeyNotFound) << "unlinked already";
    (void)o.close();
    EXPECT_EQ(removeField(date103), Acad::eKeyNotFound);
    EXPECT_EQ(textOf(date101), "2026-01-15") << "the text stays as it is";
    EXPECT_TRUE(db->isModified());
}

// Each object's field unlinked on its own, then all of them: the save takes out what
// the text says belongs to the field, and nothing else.
TEST_F(FieldTest, TheSaveDropsTheLinkTheFieldsAndTheirPlacesInTheFieldList) {
    struct Case {
        const char* name;
        std::vector<AcDbObjectId FieldTest::*> unlinked;
    };
    const Case cases[] = {{"a field with a child", {&FieldTest::date101}},
                          {"a field with a child that has a child", {&FieldTest::date102}},
                          {"a text's field", {&FieldTest::plotText}},
                          {"every field", {&FieldTest::date101, &FieldTest::date102, &FieldTest::plotText}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(original);
        std::vector<std::string> handles;
        for (auto member : c.unlinked) {
            ASSERT_EQ(removeField(this->*member), Acad::eOk);
            handles.push_back(hexOf(this->*member));
        }
        const std::string saved = save();
        EXPECT_TRUE(sameText(saved, unlinkedText(original, handles)));

        // Read again: those have no field, the others keep theirs, texts as they were.
        open(saved);
        for (AcDbObjectId FieldTest::*member : {&FieldTest::date101, &FieldTest::date102, &FieldTest::plotText}) {
            const bool wasUnlinked = std::count(c.unlinked.begin(), c.unlinked.end(), member) > 0;
            EXPECT_EQ(hasFields(this->*member), !wasUnlinked) << hexOf(this->*member);
        }
        EXPECT_EQ(textOf(date101), "2026-01-15");
        EXPECT_EQ(textOf(date102), "2026-01-15");
        EXPECT_EQ(textOf(plotText), "2026-01-15");
        EXPECT_TRUE(sameText(save(), saved));
    }
}

// The fixture's field dictionary given a second property: unlinking one keeps the
// ACAD_FIELD entry and the other's field; unlinking the other then takes the rest.
TEST_F(FieldTest, AFieldDictionaryWithAnotherPropertyKeepsIt) {
    const auto objects = objectsByHandle(original);
    const std::string date = hexOf(date101);
    const Link link = linkOf(objects, date);
    // A second FIELD, 1F0, under the property SCALE, listed in the FIELDLIST: a copy
    // of A-101's child field (which owns nothing), owned by the field dictionary.
    std::string child;
    for (const TextTag& t : objects.at(fieldOf(original, date)).tags)
        if (t.code == 360) child = handleIn(t.value);
    const TextObject& copied = objects.at(child);
    ASSERT_EQ(copied.tags[1].code, 5);
    ASSERT_EQ(copied.tags[2].code, 330);
    auto valueOf = [&](const TextTag& t, const std::string& value) {
        const std::size_t at = original.find('\n', t.begin) + 1 - copied.begin;
        return Edit{at, at + t.value.size(), value};
    };
    const std::string second = applied(original.substr(copied.begin, copied.end - copied.begin),
                                       {valueOf(copied.tags[1], "1F0"), valueOf(copied.tags[2], link.fieldDict)});
    std::vector<Edit> edits;
    const TextObject& dict = objects.at(link.fieldDict);
    edits.push_back({dict.end, dict.end, "  3\nSCALE\n360\n1F0\n" + second});
    for (const auto& [handle, o] : objects)
        if (o.type == "FIELDLIST") {
            const TextTag& last330 =
                *std::find_if(o.tags.rbegin(), o.tags.rend(), [](const TextTag& t) { return t.code == 330; });
            edits.push_back({last330.end, last330.end, "330\n1F0\n"});
            const TextTag& count =
                *std::find_if(o.tags.begin(), o.tags.end(), [](const TextTag& t) { return t.code == 90; });
            const std::size_t at = original.find('\n', count.begin) + 1;
            edits.push_back({at, at + count.value.size(), "        8"});
        }
    const std::string withSecond = applied(original, edits);
    open(withSecond);
    ASSERT_TRUE(hasFields(date101));
    ASSERT_EQ(fieldOf(withSecond, date, "SCALE"), "1F0");

    ASSERT_EQ(removeField(date101, "TEXT"), Acad::eOk);
    EXPECT_TRUE(hasFields(date101)) << "SCALE keeps its field";
    {
        AcDbObjectPointer<AcDbObject> o(date101, AcDb::kForRead);
        AcDbObjectId field;
        EXPECT_EQ(o->getField("SCALE", field), Acad::eOk);
        EXPECT_EQ(hexOf(field), "1F0");
    }
    const std::string once = save();
    const auto after = objectsByHandle(once);
    EXPECT_EQ(tagLines(after.at(link.xdict).tags), tagLines(objectsByHandle(withSecond).at(link.xdict).tags))
        << "the ACAD_FIELD entry stays";
    ASSERT_TRUE(after.count(link.fieldDict));
    EXPECT_EQ(fieldOf(once, date, "TEXT"), "");
    EXPECT_EQ(fieldOf(once, date, "SCALE"), "1F0");
    EXPECT_FALSE(after.count(fieldOf(original, date))) << "the TEXT field went";
    EXPECT_TRUE(after.count("1F0"));

    ASSERT_EQ(removeField(date101, "SCALE"), Acad::eOk);
    EXPECT_FALSE(hasFields(date101));
    EXPECT_TRUE(sameText(save(), unlinkedText(withSecond, {date}))) << "with no field left, the whole link goes";
}

// A faulty file whose field names, with a 360, objects it does not own (a field of
// another attribute, its own parent in a cycle): unlinking takes what the field
// owns and leaves the rest, and ends.
TEST_F(FieldTest, WhatAFieldNamesButDoesNotOwnStays) {
    const auto objects = objectsByHandle(original);
    const std::string root101 = fieldOf(original, hexOf(date101)), root102 = fieldOf(original, hexOf(date102));
    std::string child101;
    for (const TextTag& t : objects.at(root101).tags)
        if (t.code == 360) child101 = handleIn(t.value);
    const std::size_t rootEnd = objects.at(root101).end, childEnd = objects.at(child101).end;
    const std::string faulty = applied(
        original, {{rootEnd, rootEnd, "360\n" + root102 + "\n"}, {childEnd, childEnd, "360\n" + root101 + "\n"}});
    open(faulty);
    ASSERT_EQ(removeField(date101), Acad::eOk);
    const std::string saved = save();
    const auto after = objectsByHandle(saved);
    EXPECT_FALSE(after.count(root101));
    EXPECT_FALSE(after.count(child101));
    EXPECT_TRUE(after.count(root102)) << "another attribute's field";
    open(saved);
    EXPECT_FALSE(hasFields(date101));
    EXPECT_TRUE(hasFields(date102));
    AcDbObjectPointer<AcDbObject> o(date102, AcDb::kForRead);
    AcDbObjectId field;
    ASSERT_EQ(o->getField("TEXT", field), Acad::eOk);
    EXPECT_EQ(hexOf(field), root102);
}

TEST_F(FieldTest, UndoGivesTheLinkBackExactlyAndRedoTakesItAgain) {
    hostdb::UndoHistory& history = db->store().undoHistory();
    const std::string binaryBefore = save(dxf::DxfFormat::Binary);
    history.beginGroup("TEXTEDIT");
    ASSERT_EQ(removeField(date101), Acad::eOk);
    ASSERT_EQ(removeField(plotText), Acad::eOk);
    history.endGroup();
    const std::string after = save(), binaryAfter = save(dxf::DxfFormat::Binary);
    ASSERT_EQ(after, unlinkedText(original, {hexOf(date101), hexOf(plotText)}));
    std::vector<std::string> names;
    ASSERT_EQ(history.undo(1, names), Acad::eOk);
    EXPECT_EQ(names, std::vector<std::string>{"TEXTEDIT"});
    EXPECT_TRUE(hasFields(date101));
    EXPECT_TRUE(hasFields(plotText));
    EXPECT_TRUE(sameText(save(), original));
    EXPECT_TRUE(sameText(save(dxf::DxfFormat::Binary), binaryBefore));
    ASSERT_EQ(history.redo(names), Acad::eOk);
    EXPECT_FALSE(hasFields(date101));
    EXPECT_TRUE(sameText(save(), after));
    EXPECT_TRUE(sameText(save(dxf::DxfFormat::Binary), binaryAfter));

    // An object that held changes before: the unlinking is a change of its own.
    ASSERT_EQ(history.undo(1, names), Acad::eOk);
    history.beginGroup("TEXT");
    {
        AcDbObjectPointer<AcDbAttribute> att(date102, AcDb::kForWrite);
        ASSERT_EQ(att->setTextString("2026-03-01"), Acad::eOk);
    }
    history.endGroup();
    const std::string edited = save();
    history.beginGroup("UNLINK");
    ASSERT_EQ(removeField(date102), Acad::eOk);
    history.endGroup();
    EXPECT_EQ(history.undoCount(), 2u);
    ASSERT_EQ(history.undo(1, names), Acad::eOk);
    EXPECT_EQ(names, std::vector<std::string>{"UNLINK"});
    EXPECT_TRUE(sameText(save(), edited));
    EXPECT_TRUE(hasFields(date102));
}

// A binary drawing: read, unlinked and saved binary, it is the ASCII result's drawing
// tag for tag, and read again it has no field.
TEST_F(FieldTest, ABinaryDrawingIsUnlinkedAsAnAsciiOne) {
    const std::string expected = unlinkedText(original, {hexOf(date101), hexOf(date102), hexOf(plotText)});
    open(save(dxf::DxfFormat::Binary));
    ASSERT_EQ(db->store().sourceFormat(), dxf::DxfFormat::Binary);
    for (AcDbObjectId id : {date101, date102, plotText}) ASSERT_EQ(removeField(id), Acad::eOk);
    const std::string binary = save(dxf::DxfFormat::Binary);
    EXPECT_TRUE(sameDrawing(binary, expected));
    open(binary);
    for (AcDbObjectId id : {date101, date102, plotText}) EXPECT_FALSE(hasFields(id));
}

// Every object of the real drawings whose text is a field is unlinked; saved and read
// again, none has a field, and the drawing is the one read but for what the link was.
TEST(FieldCorpus, EveryFieldOfTheRealDrawingsIsUnlinked) {
    namespace fs = std::filesystem;
    TABLORA_REQUIRE_SHARED("corpus/dxf");
    std::size_t unlinkedCount = 0;
    for (const fs::path& drawing : tabro::testing::corpusFiles("corpus/dxf", ".dxf")) {
        SCOPED_TRACE(drawing.filename().string());
        auto r = openDrawingFile(drawing.string());
        if (!r) continue;  // the corpus holds drawings refused on purpose too
        hostdb::DrawingStore& store = r.database->store();
        std::vector<std::string> unlinked;
        for (std::uint32_t i = 0; i < store.stubCount(); ++i) {
            const AcDbObjectId id(store.stubAt(i));
            if (!hasFields(id)) continue;
            ASSERT_EQ(removeField(id), Acad::eOk) << hexOf(id);
            EXPECT_FALSE(hasFields(id)) << hexOf(id);
            unlinked.push_back(hexOf(id));
        }
        if (unlinked.empty()) continue;
        unlinkedCount += unlinked.size();
        const std::string before(store.text());
        const std::string saved = writeDrawingText(*r.database);
        if (store.sourceFormat() == dxf::DxfFormat::Ascii) {
            EXPECT_TRUE(sameText(saved, unlinkedText(before, unlinked)));
        }
        auto again = openDrawingText(saved);
        ASSERT_TRUE(again) << again.error;
        hostdb::DrawingStore& read = again.database->store();
        for (std::uint32_t i = 0; i < read.stubCount(); ++i)
            EXPECT_FALSE(hasFields(AcDbObjectId(read.stubAt(i)))) << hexOf(AcDbObjectId(read.stubAt(i)));
    }
    if (unlinkedCount == 0) GTEST_SKIP() << "no field in the corpus";
}
