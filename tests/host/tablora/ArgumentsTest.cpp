// tablora's command line: what each command takes, and what makes a usage error.
#include "host/tablora/Arguments.h"
#include "tests/common/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using tablora::Command;
using tablora::parseArguments;
using tablora::ParsedArguments;

TEST(TabloraArguments, HelpAndVersionWinWhereverTheyStand) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"help"}, {"export", "--help"}, {"import", "a.xlsx", "-h"}, {"link", "--help"}}) {
        SCOPED_TRACE(args.front() + " ... " + args.back());
        EXPECT_EQ(parseArguments(args).kind, ParsedArguments::Kind::Help);
    }
    EXPECT_EQ(parseArguments({"--version"}).kind, ParsedArguments::Kind::Version);
    EXPECT_EQ(parseArguments({"export", "a.dxf", "--version"}).kind, ParsedArguments::Kind::Version);
    EXPECT_EQ(tablora::versionText(), std::string("tablora ") + TABLORA_VERSION + "\n");
}

TEST(TabloraArguments, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{}, "a command is needed"},
        {{"convert", "a.dxf"}, "unknown command convert"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"export"}, "at least one drawing"},
        {{"export", "a.dxf", "-o"}, "-o needs a value"},
        {{"export", "a.dxf", "--preview"}, "unknown option --preview for export"},
        {{"export", "a.dxf", "--force=yes"}, "--force takes no value"},
        {{"import"}, "needs the workbook"},
        {{"import", "a.xlsx", "--blocks", "DOOR"}, "unknown option --blocks for import"},
        {{"link", "a.dxf"}, "one drawing and one workbook"},
        {{"link", "a.dxf", "b.xlsx", "c.xlsx"}, "one drawing and one workbook"},
        {{"link", "a.dxf", "b.xlsx", "--save-every", "0"}, "--save-every"},
        {{"link", "a.dxf", "b.xlsx", "--save-every", "2s"}, "--save-every"},
        {{"link", "a.dxf", "b.xlsx", "--save-every", "99999999999"}, "--save-every"},
        {{"link", "a.dxf", "b.xlsx", "--settings"}, "--settings needs a value"},
        {{"export", "a.dxf", "-o", "book.ods"}, "the workbook is written as .xlsx"},
        {{"export", "a.dxf", "-o", "book"}, "end its name with .xlsx"},
        {{"import", "plan.DXF", "book.xlsx"}, "the workbook first, then the drawings: plan.DXF is a drawing"},
        {{"link", "book.xlsx", "plan.dxf"}, "the drawing first, then the workbook: plan.dxf is a drawing"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args) shown += arg + " ";
        SCOPED_TRACE(shown);
        const ParsedArguments parsed = parseArguments(c.args);
        ASSERT_EQ(parsed.kind, ParsedArguments::Kind::UsageError);
        EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
    }
}

TEST(TabloraArguments, ExportTakesDrawingsAndOptionsInAnyOrder) {
    const ParsedArguments parsed = parseArguments({"export", "a.dxf", "--blocks", "DOOR,WINDOW", "b.dxf", "-o",
                                                   "out.xlsx", "--force", "--settings=run.ini", "--", "-odd.dxf"});
    ASSERT_EQ(parsed.kind, ParsedArguments::Kind::Run) << parsed.error;
    const tablora::Arguments& a = parsed.arguments;
    EXPECT_EQ(a.command, Command::Export);
    EXPECT_EQ(a.drawings, (std::vector<std::string>{"a.dxf", "b.dxf", "-odd.dxf"}));
    EXPECT_EQ(a.workbook, "out.xlsx");
    EXPECT_EQ(a.blocks, "DOOR,WINDOW");
    EXPECT_TRUE(a.force);
    ASSERT_TRUE(a.settingsFile);
    EXPECT_EQ(*a.settingsFile, "run.ini");

    // An empty block list is every block, as the module's prompt takes Enter.
    const ParsedArguments every = parseArguments({"export", "a.dxf", "--blocks="});
    ASSERT_EQ(every.kind, ParsedArguments::Kind::Run);
    EXPECT_EQ(every.arguments.blocks, "");
}

TEST(TabloraArguments, ImportAndLinkTakeTheWorkbookAndTheirOptions) {
    const ParsedArguments import = parseArguments({"import", "book.xlsx", "a.dxf", "--preview", "-o", "out"});
    ASSERT_EQ(import.kind, ParsedArguments::Kind::Run) << import.error;
    EXPECT_EQ(import.arguments.command, Command::Import);
    EXPECT_EQ(import.arguments.workbook, "book.xlsx");
    EXPECT_EQ(import.arguments.drawings, std::vector<std::string>{"a.dxf"});
    EXPECT_EQ(import.arguments.outputFolder, "out");
    EXPECT_TRUE(import.arguments.preview);

    // Without drawings the workbook's rows name them.
    const ParsedArguments named = parseArguments({"import", "book.xlsx"});
    ASSERT_EQ(named.kind, ParsedArguments::Kind::Run);
    EXPECT_TRUE(named.arguments.drawings.empty());

    const ParsedArguments link = parseArguments({"link", "a.dxf", "book.xlsx", "--calc", "--save-every", "10"});
    ASSERT_EQ(link.kind, ParsedArguments::Kind::Run) << link.error;
    EXPECT_EQ(link.arguments.command, Command::Link);
    EXPECT_EQ(link.arguments.drawings, std::vector<std::string>{"a.dxf"});
    EXPECT_EQ(link.arguments.workbook, "book.xlsx");
    EXPECT_TRUE(link.arguments.calc);
    EXPECT_EQ(link.arguments.saveEverySeconds, 10);
    EXPECT_EQ(parseArguments({"link", "a.dxf", "b.xlsx"}).arguments.saveEverySeconds, 2);
}

TEST(TabloraArguments, DefaultExportWorkbook) {
    EXPECT_EQ(tablora::defaultExportWorkbook({"plans/A-101.dxf"}), "plans/A-101.xlsx");
    EXPECT_EQ(tablora::defaultExportWorkbook({"site"}), "site.xlsx");
    EXPECT_EQ(tablora::defaultExportWorkbook({"plans/A.dxf", "plans/B.dxf"}), "register.xlsx");
}

// One drawing under three spellings and a link is read once, under its first name;
// a drawing of the same name in another folder is another drawing, and a name that
// does not resolve is kept for the run to report.
TEST(TabloraArguments, EachDrawingIsTakenOnce) {
    tabro::testing::TempDir dir("tablora-args");
    std::filesystem::create_directories(dir.path() / "set" / "sub");
    tabro::testing::writeFile(dir.file("set/d1.dxf"), "0\nEOF\n");
    tabro::testing::writeFile(dir.file("set/sub/d1.dxf"), "0\nEOF\n");
    std::filesystem::create_symlink(dir.path() / "set" / "d1.dxf", dir.path() / "link.dxf");
    const std::string d1 = dir.file("set/d1.dxf");
    std::vector<std::string> drawings = {d1,
                                         dir.file("set/sub/d1.dxf"),
                                         dir.file("set/./d1.dxf"),
                                         dir.file("set/sub/../d1.dxf"),
                                         dir.file("link.dxf"),
                                         dir.file("missing.dxf"),
                                         dir.file("set/../missing.dxf")};
    const std::vector<tablora::DrawingRepeat> repeats = tablora::takeEachDrawingOnce(drawings);
    EXPECT_EQ(drawings, (std::vector<std::string>{d1, dir.file("set/sub/d1.dxf"), dir.file("missing.dxf")}));
    ASSERT_EQ(repeats.size(), 4u);
    EXPECT_EQ(repeats[0].name, dir.file("set/./d1.dxf"));
    EXPECT_EQ(repeats[2].name, dir.file("link.dxf"));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(repeats[i].takenAs, d1) << i;
    EXPECT_EQ(repeats[3].takenAs, dir.file("missing.dxf"));
}

}  // namespace
