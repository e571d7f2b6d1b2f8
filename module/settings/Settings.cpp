// Loading and saving the settings record through the registry.
#include "module/settings/Settings.h"

#include "module/base/ResourceStrings.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

namespace tabro {
namespace {

// Reads a value as 4 bytes, whatever type it was stored with. A shorter value fills
// only its own length; the rest reads as zero.
bool queryDword(HKEY key, const char* name, LONG& out) {
    BYTE data[4] = {0, 0, 0, 0};
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    out = static_cast<LONG>(static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                            (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24));
    return true;
}

void queryInt(HKEY key, const char* name, LONG& field) {
    LONG value;
    if (queryDword(key, name, value)) field = value;
}

void queryBool(HKEY key, const char* name, bool& field) {
    LONG value;
    if (queryDword(key, name, value)) field = value != 0;
}

LONG setDword(HKEY key, const char* name, LONG value) {
    const DWORD v = static_cast<DWORD>(value);
    const BYTE data[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                          static_cast<BYTE>(v >> 24)};
    return RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof data);
}

// Creating opens a key that is there already. Inside the save's batch an open would
// have to look at the hive as the batch has changed it so far, which for a large
// hive costs as much as reading it again.
LONG openForWriting(const char* path, platform::RegistryKey& key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           key.put(), nullptr);
}

struct Entry {
    const char* name;
    LONG value;
};

// Writes in order and stops at the first failure, whose code it returns; the key is
// closed on every way out and a failed close fails the save.
template <std::size_t N>
LONG writeKey(const char* path, const Entry (&entries)[N]) {
    platform::RegistryKey key;
    if (LONG r = openForWriting(path, key); r != ERROR_SUCCESS) return r;
    for (const Entry& e : entries)
        if (LONG r = setDword(key.get(), e.name, e.value); r != ERROR_SUCCESS) return r;
    return key.close();
}

// Settings kept for the session after a failed save.
struct SessionSettings {
    std::mutex mutex;
    std::optional<Settings> kept;
};
SessionSettings& sessionSettings() {
    static SessionSettings session;
    return session;
}

RunOptions& runOptions() {
    static RunOptions run;
    return run;
}

// A whole number as a settings file may write it: blanks around, one sign.
bool readWholeNumber(const char* text, LONG& out) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(start, &end, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    out = static_cast<LONG>(value);
    return true;
}

}  // namespace

void setDefaultSettings(Settings& settings) {
    const bool includeConstant = settings.exportOptions.IncludeConstant;
    settings.exportOptions = ExportOptions{};
    settings.exportOptions.IncludeConstant = includeConstant;
    settings.importOptions = ImportOptions{};
}

void keepSettingsForSession(const Settings& settings) {
    SessionSettings& session = sessionSettings();
    std::lock_guard lock(session.mutex);
    session.kept = settings;
}

void dropSessionSettings() {
    SessionSettings& session = sessionSettings();
    std::lock_guard lock(session.mutex);
    session.kept.reset();
}

void loadSettings(Settings& settings) {
    {
        SessionSettings& session = sessionSettings();
        std::lock_guard lock(session.mutex);
        if (session.kept) {
            settings = *session.kept;
            return;
        }
    }
    setDefaultSettings(settings);
    ExportOptions& e = settings.exportOptions;
    {
        platform::RegistryKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kExportKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
        HKEY k = key.get();
        queryBool(k, "AddHeader", e.AddHeader);
        queryBool(k, "AutoConnect", e.AutoConnect);
        queryBool(k, "BlockNames", e.BlockNames);
        if (LONG coords; queryDword(k, "Coords", coords)) e.XCoord = e.YCoord = e.ZCoord = coords != 0;
        queryBool(k, "XCoord", e.XCoord);
        queryBool(k, "YCoord", e.YCoord);
        queryBool(k, "ZCoord", e.ZCoord);
        queryBool(k, "LayerNames", e.LayerNames);
        queryBool(k, "LayoutNames", e.LayoutNames);
        queryBool(k, "OddLine", e.OddLine);
        queryBool(k, "Rotation", e.Rotation);
        queryBool(k, "Scale", e.Scale);
        queryBool(k, "Sort", e.Sort);
        queryInt(k, "StartRow", e.StartRow);
        queryInt(k, "WorkbookSettings", e.WorkbookSettings);
        queryInt(k, "WorksheetSettings", e.WorksheetSettings);
        queryBool(k, "IncludeConstant", e.IncludeConstant);
        queryBool(k, "JTSK", e.JTSK);
        queryBool(k, "NoAutofit", e.NoAutofit);
        queryBool(k, "AsText", e.AsText);
        queryBool(k, "FindNextBlankLine", e.FindNextBlankLine);
        queryBool(k, "ExportAttPrompts", e.ExportAttPrompts);
        if (key.close() != ERROR_SUCCESS) return;
    }
    ImportOptions& i = settings.importOptions;
    platform::RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kImportKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    queryInt(key.get(), "ImportSettings", i.ImportSettings);
    queryBool(key.get(), "IgnoreProps", i.IgnoreProps);
    queryInt(key.get(), "StartCol", i.StartCol);
    queryInt(key.get(), "StartRow", i.StartRow);
    queryBool(key.get(), "Preview", i.Preview);
    if (LONG choice; queryDword(key.get(), "DrawingChangedToo", choice))
        i.DrawingChangedToo = choice == kTakeSheetValue ? kTakeSheetValue : kKeepDrawingValue;
}

bool saveSettings(const Settings& settings, LONG* error) {
    const ExportOptions& e = settings.exportOptions;
    const Entry exportEntries[] = {
        {"AddHeader", e.AddHeader},
        {"AutoConnect", e.AutoConnect},
        {"BlockNames", e.BlockNames},
        {"XCoord", e.XCoord},
        {"YCoord", e.YCoord},
        {"ZCoord", e.ZCoord},
        {"LayerNames", e.LayerNames},
        {"LayoutNames", e.LayoutNames},
        {"OddLine", e.OddLine},
        {"Rotation", e.Rotation},
        {"Scale", e.Scale},
        {"Sort", e.Sort},
        {"StartRow", e.StartRow},
        {"WorkbookSettings", e.WorkbookSettings},
        {"WorksheetSettings", e.WorksheetSettings},
        {"IncludeConstant", e.IncludeConstant},
        {"JTSK", e.JTSK},
        {"NoAutofit", e.NoAutofit},
        {"AsText", e.AsText},
        {"FindNextBlankLine", e.FindNextBlankLine},
        {"ExportAttPrompts", e.ExportAttPrompts},
    };
    const ImportOptions& i = settings.importOptions;
    const Entry importEntries[] = {
        {"ImportSettings", i.ImportSettings},
        {"IgnoreProps", i.IgnoreProps},
        {"StartCol", i.StartCol},
        {"StartRow", i.StartRow},
        {"Preview", i.Preview},
        {"DrawingChangedToo", i.DrawingChangedToo},
    };
    LONG result = ERROR_SUCCESS;
    {
        platform::RegistryBatch batch;
        result = writeKey(kExportKey, exportEntries);
        if (result == ERROR_SUCCESS) result = writeKey(kImportKey, importEntries);
        // What was set before a failure is written all the same.
        const LONG written = batch.commit();
        if (result == ERROR_SUCCESS) result = written;
    }
    if (error) *error = result;
    if (result != ERROR_SUCCESS) return false;
    dropSessionSettings();
    return true;
}

bool loadSettingsFile(const std::string& path, Settings& settings, std::string& problem) {
    // The profile calls read a missing file as one without entries: a mistyped
    // name would silently give the defaults.
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        problem = formatText(kTextSettingsFileUnreadable, path.c_str(), std::strerror(errno));
        return false;
    }
    setDefaultSettings(settings);
    ExportOptions& e = settings.exportOptions;
    ImportOptions& i = settings.importOptions;
    struct Entry {
        const char* section;
        const char* name;
        LONG* number;
        bool* flag;
    };
    LONG coords = -1;
    const Entry entries[] = {
        {"Export", "AddHeader", nullptr, &e.AddHeader},
        {"Export", "AutoConnect", nullptr, &e.AutoConnect},
        {"Export", "BlockNames", nullptr, &e.BlockNames},
        {"Export", "Coords", &coords, nullptr},
        {"Export", "XCoord", nullptr, &e.XCoord},
        {"Export", "YCoord", nullptr, &e.YCoord},
        {"Export", "ZCoord", nullptr, &e.ZCoord},
        {"Export", "LayerNames", nullptr, &e.LayerNames},
        {"Export", "LayoutNames", nullptr, &e.LayoutNames},
        {"Export", "OddLine", nullptr, &e.OddLine},
        {"Export", "Rotation", nullptr, &e.Rotation},
        {"Export", "Scale", nullptr, &e.Scale},
        {"Export", "Sort", nullptr, &e.Sort},
        {"Export", "StartRow", &e.StartRow, nullptr},
        {"Export", "WorkbookSettings", &e.WorkbookSettings, nullptr},
        {"Export", "WorksheetSettings", &e.WorksheetSettings, nullptr},
        {"Export", "IncludeConstant", nullptr, &e.IncludeConstant},
        {"Export", "JTSK", nullptr, &e.JTSK},
        {"Export", "NoAutofit", nullptr, &e.NoAutofit},
        {"Export", "AsText", nullptr, &e.AsText},
        {"Export", "FindNextBlankLine", nullptr, &e.FindNextBlankLine},
        {"Export", "ExportAttPrompts", nullptr, &e.ExportAttPrompts},
        {"Import", "ImportSettings", &i.ImportSettings, nullptr},
        {"Import", "IgnoreProps", nullptr, &i.IgnoreProps},
        {"Import", "StartCol", &i.StartCol, nullptr},
        {"Import", "StartRow", &i.StartRow, nullptr},
        {"Import", "Preview", nullptr, &i.Preview},
        {"Import", "DrawingChangedToo", &i.DrawingChangedToo, nullptr},
    };
    for (const Entry& entry : entries) {
        char text[256];
        if (GetPrivateProfileStringA(entry.section, entry.name, "", text, sizeof text, path.c_str()) == 0) continue;
        LONG value = 0;
        if (!readWholeNumber(text, value)) {
            problem = formatText(kTextSettingsFileBadValue, path.c_str(), entry.section, entry.name, text);
            return false;
        }
        if (entry.number) *entry.number = value;
        if (entry.flag) *entry.flag = value != 0;
        // "Coords" sets the three together; the single ones, read after it, win.
        if (entry.number == &coords) e.XCoord = e.YCoord = e.ZCoord = coords != 0;
    }
    i.DrawingChangedToo = i.DrawingChangedToo == kTakeSheetValue ? kTakeSheetValue : kKeepDrawingValue;
    return true;
}

void beginRun(Settings settings, const RunOptions& run, bool preview) {
    // The run's workbook is the active one, made by the program; connecting the
    // live link after each drawing would leave it linked to a drawing now closed.
    settings.exportOptions.WorkbookSettings = 1;
    settings.exportOptions.AutoConnect = false;
    // The rows of a register stand on every block's sheet.
    settings.importOptions.ImportSettings = 1;
    settings.importOptions.Preview = preview;
    keepSettingsForSession(settings);
    runOptions() = run;
    runOptions().isRun = true;
}

const RunOptions& currentRun() { return runOptions(); }

void endRun() { runOptions() = RunOptions{}; }

}  // namespace tabro
