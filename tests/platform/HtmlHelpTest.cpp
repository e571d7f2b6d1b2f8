// The HTML help library and what reaching it needs: libraries loaded by bare name
// from the system folder, entry points found by ordinal, the compiled help file read
// back, its pages as terminal text (paged only on a terminal) or opened in the
// desktop's browser without a shell.
#include "platform/HtmlHelp.h"
#include "platform/LastError.h"
#include "platform/Module.h"
#include "platform/htmlhelp/ChmArchive.h"
#include "platform/htmlhelp/HelpViewer.h"
#include "platform/htmlhelp/HtmlText.h"
#include "platform/ui/Shell.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kBin = TABLORA_BIN_DIR;
const std::string kModules = TABLORA_TEST_MODULES_DIR;
const std::string kHelpFile = kBin + "/tabro.chm";

// The system folder moved for the scope's lifetime.
class SystemFolderScope {
public:
    explicit SystemFolderScope(std::string folder) : previous_(platform::setSystemFolder(std::move(folder))) {}
    ~SystemFolderScope() { platform::setSystemFolder(previous_); }

private:
    std::string previous_;
};

// Writes what the viewer prints into a string.
class CapturedFile {
public:
    CapturedFile() : file_(std::tmpfile()) {}
    ~CapturedFile() { std::fclose(file_); }
    std::FILE* get() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) out.append(buffer, n);
        return out;
    }

private:
    std::FILE* file_;
};

TEST(ModuleOrdinals, EntryPointsAreFoundByTheirNumber) {
    HMODULE recorder = LoadLibraryA((kModules + "/HelpRecorder.so").c_str());
    ASSERT_NE(recorder, nullptr);
    FARPROC byOrdinal = GetProcAddress(recorder, MAKEINTRESOURCEA(HTMLHELP_ORDINAL_ANSI));
    EXPECT_NE(byOrdinal, nullptr);
    EXPECT_EQ(byOrdinal, GetProcAddress(recorder, "RecordedHelp"));
    EXPECT_EQ(GetProcAddress(recorder, MAKEINTRESOURCEA(15)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(recorder, MAKEINTRESOURCEA(0)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(FreeLibrary(recorder));

    // A library without an ordinal table has no entry point by number.
    HMODULE plain = LoadLibraryA((kModules + "/AttachCounter.so").c_str());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(GetProcAddress(plain, MAKEINTRESOURCEA(HTMLHELP_ORDINAL_ANSI)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(plain));
}

TEST(SystemFolder, BareNamesAreLoadedFromIt) {
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(fs::canonical(folder), fs::canonical(kBin)) << "the platform library's own folder";
    char tiny[2];
    EXPECT_EQ(GetSystemDirectoryA(tiny, sizeof tiny), length + 1) << "the size needed";

    HMODULE help = LoadLibraryA(HTMLHELP_LIBRARY);
    ASSERT_NE(help, nullptr) << "hhctrl.ocx must be built beside the platform library";
    EXPECT_EQ(platform::moduleFileName(help), fs::canonical(kBin + "/hhctrl.ocx").string());
    EXPECT_NE(GetProcAddress(help, MAKEINTRESOURCEA(HTMLHELP_ORDINAL_ANSI)), nullptr);
    EXPECT_TRUE(FreeLibrary(help));

    tabro::testing::TempDir empty{"htmlhelp"};
    SystemFolderScope moved(empty.path().string());
    EXPECT_EQ(LoadLibraryA(HTMLHELP_LIBRARY), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    fs::copy_file(kModules + "/HelpRecorder.so", empty.file("hhctrl.ocx"));
    HMODULE standIn = LoadLibraryA(HTMLHELP_LIBRARY);
    ASSERT_NE(standIn, nullptr);
    EXPECT_NE(GetProcAddress(standIn, "RecordedHelp"), nullptr);
    EXPECT_TRUE(FreeLibrary(standIn));

    // A bare name the system folder lacks is still found where it is named from.
    tabro::testing::TempDir current{"htmlhelp"};
    fs::copy_file(kModules + "/AttachCounter.so", current.file("local.so"));
    HMODULE local = [&] {
        tabro::testing::WorkingDirectory inside(current.path());
        return LoadLibraryA("local.so");
    }();
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(platform::moduleFileName(local), fs::canonical(current.file("local.so")).string());
    EXPECT_TRUE(FreeLibrary(local));
}

TEST(ChmArchive, TheBuiltHelpFileHoldsEveryPageAndItsDefaultTopic) {
    if (!TABLORA_HAVE_HELP_FILE) GTEST_SKIP() << "chmcmd was not found when the build was configured";
    std::string error;
    auto archive = hhctrl::ChmArchive::open(kHelpFile, error);
    ASSERT_TRUE(archive) << error;
    EXPECT_EQ(archive->defaultTopic(), "/index.html");
    std::vector<std::string> files = archive->files();
    for (const char* page : {"/index.html", "/keywords.html", "/options.html", "/worksheet.html", "/livelink.html",
                             "/settingsfile.html", "/menu.html"}) {
        SCOPED_TRACE(page);
        EXPECT_NE(std::find(files.begin(), files.end(), page), files.end());
        std::optional<std::string> bytes = archive->read(page);
        ASSERT_TRUE(bytes);
        EXPECT_NE(bytes->find("</html>"), std::string::npos) << "read whole";
    }
    EXPECT_EQ(archive->read("index.html"), archive->read("/index.html"));
    EXPECT_FALSE(archive->read("/missing.html"));
}

TEST(ChmArchive, WhatIsNoHelpFileIsRefused) {
    tabro::testing::TempDir folder{"htmlhelp"};
    tabro::testing::writeFile(folder.file("text.chm"), "not a compiled help file at all\n");
    fs::path fifo = folder.file("pipe.chm");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (std::string path :
         {folder.file("missing.chm"), folder.file("text.chm"), fifo.string(), folder.path().string()}) {
        SCOPED_TRACE(path);
        std::string error;
        EXPECT_FALSE(hhctrl::ChmArchive::open(path, error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}

TEST(ChmArchive, EntryPathsStayInsideTheFolderTheyAreUnpackedTo) {
    struct Case {
        const char* path;
        const char* relative;  // null: refused
    } cases[] = {
        {"/index.html", "index.html"},
        {"/img/./a.png", "img/a.png"},
        {"a//b.html", "a/b.html"},
        {"/../etc/passwd", nullptr},
        {"/a/../../b", nullptr},
        {"/#SYSTEM", nullptr},
        {"/$OBJINST", nullptr},
        {"::DataSpace/x", nullptr},
        {"/", nullptr},
        {"", nullptr},
        {"/a\\..\\b", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::optional<std::string> relative = hhctrl::safeRelativePath(c.path);
        if (c.relative)
            EXPECT_EQ(relative, std::optional<std::string>(c.relative));
        else
            EXPECT_FALSE(relative);
    }
}

TEST(HtmlText, PagesReadAsText) {
    struct Case {
        const char* html;
        const char* text;
    } cases[] = {
        {"<html><head><title>T</title><style>p{}</style></head><body><h1>Big</h1><p>One  two\nthree.</p></body>",
         "Big\n===\n\nOne two three.\n"},
        {"<h2>Sub</h2><ul><li>a</li><li>b<ol><li>c</li></ol></li></ul>", "Sub\n---\n\n  * a\n  * b\n    1. c\n"},
        {"<p>&lt;x&gt; &amp; &#65;&#x42; &unknown; &#0; &#x110000; &copy;</p>",
         "<x> & AB &unknown; &#0; &#x110000; \xC2\xA9\n"},
        {"<pre>a  b\n  c</pre><p>d</p>", "a  b\n  c\n\nd\n"},
        {"<table><tr><th>Setting</th><th>Default</th></tr><tr><td>X</td><td>on</td></tr></table>",
         "Setting | Default\nX | on\n"},
        {"<script>if (a < b) alert('<p>')</script>visible<!-- hidden <p> --> text", "visible text\n"},
        {"a < b and <b>bold</b> <a href=\"x>y\">link</a>", "a < b and bold link\n"},
        {"<p>unclosed <b", "unclosed\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(hhctrl::htmlToText(c.html, 80), c.text);
    }
}

TEST(HtmlText, DeepNestingDoesNotMultiplyTheText) {
    std::string html;
    for (int i = 0; i < 5000; ++i) html += "<ul>";
    for (int i = 0; i < 5000; ++i) html += "<li>x";
    std::string text = hhctrl::htmlToText(html, 80);
    EXPECT_LT(text.size(), 60u * 5000) << "each item's line stays within the width";
}

TEST(HtmlText, ParagraphsWrapAtTheWidthWithoutLosingWords) {
    std::string words;
    for (int i = 0; i < 60; ++i) words += "word" + std::to_string(i) + " ";
    std::string text = hhctrl::htmlToText("<ul><li>" + words + "</li></ul>", 30);
    std::string joined;
    std::size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        EXPECT_LE(line.size(), 30u) << line;
        EXPECT_EQ(line.rfind(lines == 0 ? "  * " : "    ", 0), 0u) << "list items hang: " << line;
        joined += line.substr(4) + " ";
        ++lines;
        start = end + 1;
    }
    EXPECT_GT(lines, 10);
    EXPECT_EQ(joined, words);
}

hhctrl::ViewerEnvironment terminal(int rows, std::deque<int> keys) {
    hhctrl::ViewerEnvironment env;
    env.isTerminal = true;
    env.rows = rows;
    env.readKey = [keys]() mutable {
        if (keys.empty()) return -1;
        int key = keys.front();
        keys.pop_front();
        return key;
    };
    return env;
}

std::string numberedLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

TEST(Pager, LongTextIsPagedOnlyOnATerminal) {
    const std::string text = numberedLines(30);
    {
        CapturedFile out;
        hhctrl::ViewerEnvironment pipe;  // no terminal: whole, no prompt
        pipe.rows = 10;
        pipe.readKey = [] { return 'q'; };
        hhctrl::pageText(text, pipe, out.get());
        EXPECT_EQ(out.text(), text);
    }
    {
        CapturedFile out;
        hhctrl::pageText(text, terminal(10, {'q'}), out.get());
        std::string shown = out.text();
        EXPECT_NE(shown.find("line 9\n"), std::string::npos);
        EXPECT_EQ(shown.find("line 10\n"), std::string::npos) << "q ends after the first screen";
        EXPECT_NE(shown.find("-- More (30%)"), std::string::npos) << shown;
    }
    {
        CapturedFile out;
        hhctrl::pageText(text, terminal(10, {'\n', ' ', 'x', ' ', ' '}), out.get());
        std::string shown = out.text();
        EXPECT_NE(shown.find("line 30\n"), std::string::npos) << "Enter, then pages to the end";
        EXPECT_EQ(shown.find("line 30\n-- More"), std::string::npos) << "no prompt after the last line";
    }
    {
        CapturedFile out;
        hhctrl::pageText(numberedLines(5), terminal(10, {}), out.get());
        EXPECT_EQ(out.text(), numberedLines(5)) << "what fits is not paged";
    }
}

TEST(HelpViewer, DesktopOpensTheUnpackedTopicWithoutAShell) {
    if (!TABLORA_HAVE_HELP_FILE) GTEST_SKIP() << "chmcmd was not found when the build was configured";
    std::string error;
    auto archive = hhctrl::ChmArchive::open(kHelpFile, error);
    ASSERT_TRUE(archive) << error;
    tabro::testing::TempDir cache{"htmlhelp"};
    hhctrl::ViewerEnvironment desktop;
    desktop.hasDesktop = true;
    desktop.cacheFolder = cache.path().string();
    std::vector<std::vector<std::string>> started;
    int openerStatus = 0;
    platform::ProcessStarter previous = platform::setProcessStarter([&](const platform::ProcessRequest& request) {
        started.push_back(request.argv);
        return platform::ProcessOutcome{0, openerStatus};
    });
    CapturedFile out;
    EXPECT_TRUE(hhctrl::showTopic(*archive, kHelpFile, "/options.html", desktop, out.get(), error)) << error;
    ASSERT_EQ(started.size(), 1u);
    const std::string page = cache.file("tabro.chm/options.html");
    EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", page}));
    EXPECT_EQ(tabro::testing::readFile(page), archive->read("/options.html").value_or("?"));
    EXPECT_TRUE(fs::exists(cache.file("tabro.chm/index.html"))) << "links to other pages work";
    EXPECT_EQ(out.text(), "");

    // No browser to open it: the topic goes to the terminal as text instead.
    openerStatus = 3;
    EXPECT_TRUE(hhctrl::showTopic(*archive, kHelpFile, "/options.html", desktop, out.get(), error));
    EXPECT_NE(out.text().find("The Options dialog\n=================="), std::string::npos) << out.text();
    platform::setProcessStarter(previous);

    EXPECT_FALSE(hhctrl::showTopic(*archive, kHelpFile, "/missing.html", desktop, out.get(), error));
    EXPECT_NE(error.find("/missing.html"), std::string::npos);
}

TEST(HtmlHelpLibrary, ShowsTheDefaultTopicAndRefusesWhatItCannotShow) {
    if (!TABLORA_HAVE_HELP_FILE) GTEST_SKIP() << "chmcmd was not found when the build was configured";
    // No desktop here, whatever the machine has: the text goes to stdout.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    HMODULE help = LoadLibraryA(HTMLHELP_LIBRARY);
    ASSERT_NE(help, nullptr);
    auto htmlHelp = reinterpret_cast<HtmlHelpAFunction>(GetProcAddress(help, MAKEINTRESOURCEA(HTMLHELP_ORDINAL_ANSI)));
    ASSERT_NE(htmlHelp, nullptr);
    testing::internal::CaptureStdout();
    HWND shown = htmlHelp(nullptr, kHelpFile.c_str(), HH_DISPLAY_TOPIC, 0);
    HWND page = htmlHelp(nullptr, (kHelpFile + "::/livelink.html").c_str(), HH_DISPLAY_TOPIC, 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown, nullptr);
    EXPECT_NE(page, nullptr);
    EXPECT_NE(out.find("Tablora\n=======\n"), std::string::npos) << out;
    EXPECT_NE(out.find("The live link\n============="), std::string::npos) << out;

    testing::internal::CaptureStderr();
    EXPECT_EQ(htmlHelp(nullptr, (kBin + "/missing.chm").c_str(), HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(htmlHelp(nullptr, kHelpFile.c_str(), 0x0F, 0), nullptr) << "commands it does not know";
    EXPECT_EQ(htmlHelp(nullptr, nullptr, HH_DISPLAY_TOPIC, 0), nullptr);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("missing.chm"), std::string::npos) << errors;
    EXPECT_TRUE(FreeLibrary(help));
}

}  // namespace
