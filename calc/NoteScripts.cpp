// The Basic module that reads and places a sheet's notes inside the office.
#include "calc/NoteScripts.h"

#include "calc/CalcState.h"
#include "calc/UnoText.h"

#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/reflection/InvocationTargetException.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/script/provider/ScriptFrameworkErrorException.hpp>
#include <com/sun/star/script/provider/XScriptProvider.hpp>
#include <com/sun/star/script/provider/theMasterScriptProviderFactory.hpp>

namespace css = ::com::sun::star;
namespace container = css::container;
namespace frame = css::frame;
namespace lang = css::lang;
namespace script = css::script;
namespace uno = css::uno;
using ::com::sun::star::uno::Any;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

constexpr char kLibrary[] = "TabloraLinkNotes";
constexpr char kModule[] = "Notes";

// ReadNotes gives (row, column, text) for each note, 0-based, in one flat array.
// WriteNotes takes three arrays of the same length. The document's controllers
// and action locks are the caller's; the undo manager is locked here, since the
// notes are the program's bookkeeping and not an edit the user would undo.
constexpr char kSource[] = R"(Option Explicit

Function ReadNotes(oSheet As Object) As Variant
    Dim oNotes As Object, oNote As Object, oAt As Object
    Dim n As Long, i As Long
    oNotes = oSheet.getAnnotations()
    n = oNotes.getCount()
    If n = 0 Then
        ReadNotes = Array()
        Exit Function
    End If
    Dim found(3 * n - 1) As Variant
    For i = 0 To n - 1
        oNote = oNotes.getByIndex(i)
        oAt = oNote.getPosition()
        found(3 * i) = oAt.Row
        found(3 * i + 1) = oAt.Column
        found(3 * i + 2) = oNote.getString()
    Next i
    ReadNotes = found
End Function

Sub WriteNotes(oSheet As Object, oDoc As Object, rows As Variant, columns As Variant, texts As Variant)
    Dim oNotes As Object, oUndo As Object
    Dim i As Long
    Dim at As New com.sun.star.table.CellAddress
    oNotes = oSheet.getAnnotations()
    at.Sheet = oSheet.getRangeAddress().Sheet
    oUndo = oDoc.getUndoManager()
    oUndo.lock()
    On Error GoTo Failed
    For i = LBound(rows) To UBound(rows)
        at.Row = rows(i)
        at.Column = columns(i)
        oNotes.insertNew(at, texts(i))
    Next i
    oUndo.unlock()
    Exit Sub
Failed:
    oUndo.unlock()
    Error Err
End Sub
)";

OUString scriptUrl(const char* name) {
    return toOUString(std::string("vnd.sun.star.script:") + kLibrary + "." + kModule + "." + name +
                      "?language=Basic&location=application");
}

Reference<script::XLibraryContainer> libraries(OfficeLink& link) {
    Reference<uno::XComponentContext> context = link.remoteContext();
    return Reference<script::XLibraryContainer>(context->getServiceManager()->createInstanceWithContext(
                                                    "com.sun.star.script.ApplicationScriptLibraryContainer", context),
                                                UNO_QUERY_THROW);
}

}  // namespace

bool NoteScripts::ready(OfficeLink& link) {
    if (generation_ != link.generation()) {
        generation_ = link.generation();
        isUnavailable_ = false;
        read_.clear();
        place_.clear();
    }
    if (isUnavailable_) return false;
    if (read_.is() && place_.is()) return true;
    try {
        Reference<script::XLibraryContainer> container = libraries(link);
        if (!container->hasByName(toOUString(kLibrary))) container->createLibrary(toOUString(kLibrary));
        Reference<container::XNameContainer> library(container->getByName(toOUString(kLibrary)), UNO_QUERY_THROW);
        const Any source(toOUString(kSource));
        if (library->hasByName(toOUString(kModule)))
            library->replaceByName(toOUString(kModule), source);
        else
            library->insertByName(toOUString(kModule), source);
        Reference<script::provider::XScriptProvider> provider =
            script::provider::theMasterScriptProviderFactory::get(link.remoteContext())
                ->createScriptProvider(Any(OUString()));
        read_ = provider->getScript(scriptUrl("ReadNotes"));
        place_ = provider->getScript(scriptUrl("WriteNotes"));
        return read_.is() && place_.is();
    } catch (const lang::DisposedException&) {
        throw;
    } catch (const uno::RuntimeException& e) {
        if (isLostConnection(e.Message)) throw;
    } catch (const uno::Exception&) {
    }
    isUnavailable_ = true;
    return false;
}

Any NoteScripts::invoke(const Reference<script::provider::XScript>& script, const Sequence<Any>& arguments) {
    Sequence<sal_Int16> outIndex;
    Sequence<Any> out;
    return script->invoke(arguments, outIndex, out);
}

std::optional<std::map<NoteScripts::Cell, std::u16string>> NoteScripts::read(
    OfficeLink& link, const Reference<css::sheet::XSpreadsheet>& sheet) {
    if (!ready(link)) return std::nullopt;
    Any result;
    try {
        const Any arguments[] = {Any(sheet)};
        result = invoke(read_, Sequence<Any>(arguments, 1));
    } catch (const script::provider::ScriptFrameworkErrorException&) {
        isUnavailable_ = true;
        return std::nullopt;
    } catch (const css::reflection::InvocationTargetException&) {
        isUnavailable_ = true;
        return std::nullopt;
    }
    Sequence<Any> flat;
    if (!(result >>= flat) || flat.getLength() % 3 != 0) {
        isUnavailable_ = true;
        return std::nullopt;
    }
    std::map<Cell, std::u16string> notes;
    for (sal_Int32 i = 0; i + 2 < flat.getLength(); i += 3) {
        sal_Int32 row = 0, column = 0;
        OUString text;
        if (!(flat[i] >>= row) || !(flat[i + 1] >>= column)) continue;
        flat[i + 2] >>= text;
        notes[{row + 1, column + 1}] = toU16(text);
    }
    return notes;
}

bool NoteScripts::place(OfficeLink& link, const Reference<frame::XModel>& document,
                        const Reference<css::sheet::XSpreadsheet>& sheet,
                        const std::vector<std::pair<Cell, std::u16string>>& notes) {
    if (!ready(link)) return false;
    Sequence<Any> rows(static_cast<sal_Int32>(notes.size())), columns(rows.getLength()), texts(rows.getLength());
    Any* r = rows.getArray();
    Any* c = columns.getArray();
    Any* t = texts.getArray();
    for (std::size_t i = 0; i < notes.size(); ++i) {
        r[i] <<= static_cast<sal_Int32>(notes[i].first.first - 1);
        c[i] <<= static_cast<sal_Int32>(notes[i].first.second - 1);
        t[i] <<= toOUString(notes[i].second);
    }
    try {
        const Any arguments[] = {Any(sheet), Any(document), Any(rows), Any(columns), Any(texts)};
        invoke(place_, Sequence<Any>(arguments, 5));
        return true;
    } catch (const script::provider::ScriptFrameworkErrorException&) {
    } catch (const css::reflection::InvocationTargetException&) {
    }
    // Notes it placed before it failed are placed again one by one: the office
    // replaces a cell's note with the new one.
    isUnavailable_ = true;
    return false;
}

void NoteScripts::remove(OfficeLink& link) {
    read_.clear();
    place_.clear();
    if (!link.isConnected()) return;
    try {
        Reference<script::XLibraryContainer> container = libraries(link);
        if (container->hasByName(toOUString(kLibrary))) container->removeLibrary(toOUString(kLibrary));
    } catch (const uno::Exception&) {
        // The office keeps a module it will replace when next asked to run it.
    }
}

}  // namespace calc
