// The application folder, the report's name and cells, and the report file as
// a whole on the templates of three producers: the sample template, one
// written by LibreOffice and one by python3-xlwt (the scripts that wrote the
// two fixtures are in the history of tests/report/fixtures).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "BiffReader.h"
#include "rain/Error.h"
#include "report/Report.h"
#include "report/Workbook.h"
#include "tests/rain/GridFixture.h"

namespace fs = std::filesystem;

namespace quorvel::test {
namespace {

const fs::path kFixtures = QUORVEL_REPORT_FIXTURES;

// An application folder holding a template and an output folder.
class AppFolder : public ScratchDir {
public:
    explicit AppFolder(const fs::path& templateFile = kFixtures / "xlwt_template.xls")
    {
        fs::create_directories(path() / "programs/prototipo");
        fs::create_directory(path() / "output");
        fs::copy_file(templateFile, path() / kTemplatePath);
    }
    std::string folder() const { return path().string() + "/"; }
    fs::path output(const std::string& name) const { return path() / "output" / name; }
    void Write(const std::string& name) const
    {
        WriteRainReport(2400000, 5100000, 2400250, 5100250, 0.35f, 31.5f, 42.25f, 49.125f, 56.0f, 65.5f,
                        72.75f, 79.875f, folder(), name);
    }
    // Every file and folder below the application folder with its bytes.
    std::map<fs::path, Bytes> Contents() const
    {
        std::map<fs::path, Bytes> contents;
        for (const auto& entry : fs::recursive_directory_iterator(path())) {
            contents[entry.path()] = entry.is_regular_file() ? ReadFileBytes(entry.path()) : Bytes{};
        }
        return contents;
    }
};

// Throws an Error of the kind, naming a file whose name holds the text.
auto ThrowsKind(ErrorKind kind, const std::string& file = "")
{
    return testing::Throws<Error>(testing::AllOf(testing::Property(&Error::kind, kind),
                                                 testing::Property(&Error::file, testing::HasSubstr(file))));
}

TEST(GetAppFolder, CurrentDirectoryWithSeparatorWhenTheFileIsThere)
{
    ScratchWorkingDir dir;
    std::ofstream(kExecutableName) << "x";
    fs::create_directory("folder");
    EXPECT_EQ(GetAppFolder(kExecutableName), fs::current_path().string() + "/");
    EXPECT_THAT([] { GetAppFolder("Quorvel.exe"); }, ThrowsKind(ErrorKind::FileNotFound));
    EXPECT_THAT([] { GetAppFolder("folder"); }, ThrowsKind(ErrorKind::FileNotFound));
}

TEST(ReportName, ExtensionAlwaysAppendedAndNamesKeptInTheOutputFolder)
{
    EXPECT_EQ(ReportPath("/a/", "Piogge"), "/a/output/Piogge.xls");
    EXPECT_EQ(ReportPath("/a/", "rain.xls"), "/a/output/rain.xls.xls");
    EXPECT_EQ(ReportPath("/a/", " x "), "/a/output/ x .xls");
    for (const char* name : {"Piogge", " spaced ", "rain.xls", "..x", "a.b"}) {
        EXPECT_TRUE(IsSafeOutputName(name)) << name;
    }
    for (const std::string& name : std::vector<std::string>{"../up", "a/b", "a\\b", ".", "..", "", "   ", " \t",
                                                            std::string("a\0b", 3)}) {
        EXPECT_FALSE(IsSafeOutputName(name)) << name;
    }
}

TEST(ReportCells, IntegersRoundHalvesToEvenAndFloatsWidenExactly)
{
    auto cells = ReportCells(2385123.5f, 5100001.5f, 2385122.5f, 5100000.5f, 26.448189f, 1, 2, 3, 4, 5, 6, 7);
    EXPECT_EQ((std::array{cells[0].value, cells[1].value, cells[2].value, cells[3].value}),
              (std::array{2385124.0, 5100002.0, 2385122.0, 5100000.0}));
    EXPECT_EQ(cells[4].value, static_cast<double>(26.448189f));
    EXPECT_NE(cells[4].value, 26.448189);
    EXPECT_THAT([] { ReportCells(3e9f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); }, ThrowsKind(ErrorKind::Overflow));
    EXPECT_THAT([] { ReportCells(0, 0, 0, 0, NAN, 0, 0, 0, 0, 0, 0, 0); }, ThrowsKind(ErrorKind::FloatingPoint));
}

// The cells themselves are read back by python3-xlrd and recalculated by
// LibreOffice (check_report.py); here the rest of the file.
class Producers : public testing::TestWithParam<fs::path> {};

TEST_P(Producers, ReportKeepsAllButTheWorkbookStreamAndIsTheSameEachTime)
{
    AppFolder app(GetParam());
    const Bytes templateBytes = ReadFileBytes(GetParam().string());
    WriteText(app.output("Piogge.xls"), "old");
    app.Write("Piogge");
    app.Write("again");
    EXPECT_EQ(ReadFileBytes(app.folder() + kTemplatePath), templateBytes);
    const Bytes report = ReadFileBytes(app.output("Piogge.xls").string());
    EXPECT_EQ(ReadFileBytes(app.output("again.xls").string()), report) << "an earlier report replaced whole";
    EXPECT_EQ(std::distance(fs::directory_iterator(app.path() / "output"), {}), 2) << "no temporary left";
    EXPECT_NE(fs::status(app.output("Piogge.xls")).permissions() & fs::perms::group_read, fs::perms::none)
        << "a report is as readable as any new file";

    std::vector<CompoundEntry> before = ReadCompoundFile(templateBytes), after = ReadCompoundFile(report);
    for (auto* entries : {&before, &after}) {
        std::erase_if(*entries, [](const CompoundEntry& entry) { return entry.path == "/Workbook"; });
    }
    EXPECT_EQ(before, after) << "the other streams and storages, class ids included";
    const Bytes stream = WorkbookStream(report);
    EXPECT_EQ(OffsetProblems(stream), "");
    // Which sheet is active is checked on the synthetic stream; a template
    // without a SELECTION record gets one, each with A1 the active cell.
    std::vector<std::uint32_t> activeCells;
    for (const BiffRecord& r : ReadBiff(stream)) {
        if (r.type == 0x001D && r.sheet == 0 && !r.nested) {
            activeCells.push_back(Get32(r.data, 1));
        }
    }
    EXPECT_EQ(activeCells, std::vector<std::uint32_t>(std::max<size_t>(activeCells.size(), 1), 0));
}

INSTANTIATE_TEST_SUITE_P(Templates, Producers,
                         testing::Values(kFixtures / "libreoffice_template.xls", kFixtures / "xlwt_template.xls",
                                         fs::path(QUORVEL_SAMPLE_TEMPLATE)),
                         [](const auto& info) { return info.param.stem().string(); });

TEST(WriteRainReport, ColumnsFitTheirTextsButNotMergedOnes)
{
    AppFolder app(kFixtures / "libreoffice_template.xls");
    app.Write("Piogge");
    std::map<int, double> widths;
    for (const BiffRecord& r : ReadBiff(WorkbookStream(ReadFileBytes(app.output("Piogge.xls"))))) {
        if (r.sheet == 0 && r.type == 0x007D && Get16(r.data, 0) == Get16(r.data, 2)) {
            widths[Get16(r.data, 0)] = Get16(r.data, 4) / 256.0;
        }
    }
    // A holds "Centro cella" and a 57-character title merged over A1:H1; B
    // holds "Coordinate Gauss-Boaga fuso Est"; C holds 2,400,250 and a merged note.
    EXPECT_THAT(widths[0], testing::AllOf(testing::Gt(10), testing::Lt(20)));
    EXPECT_THAT(widths[1], testing::AllOf(testing::Gt(28), testing::Lt(40)));
    EXPECT_THAT(widths[2], testing::AllOf(testing::Gt(7), testing::Lt(14)));
}

// A failed report changes nothing in the application folder: an earlier
// report stays whole, and no temporary file is left.
TEST(WriteRainReport, FailuresLeaveTheFolderAsItWas)
{
    const struct {
        const char* what;
        std::function<void(const AppFolder&)> spoil;
        std::string name;
        ErrorKind kind;
        const char* file = "";  // what the error names, in part
    } cases[] = {
        {"no template", [](auto& app) { fs::remove(app.path() / kTemplatePath); }, "Piogge", ErrorKind::FileNotFound},
        {"template cut in half",
         [](auto& app) {
             const Bytes good = ReadFileBytes(app.path() / kTemplatePath);
             WriteText(app.path() / kTemplatePath, std::string(good.begin(), good.begin() + good.size() / 2));
         },
         "Piogge", ErrorKind::BadFileFormat, kTemplatePath},
        {"no output folder", [](auto& app) { fs::remove_all(app.path() / "output"); }, "Piogge",
         ErrorKind::FileNotFound},
        // Permission bits do not bind root; sysfs refuses new files to everyone.
        {"unwritable output folder",
         [](auto& app) {
             fs::remove_all(app.path() / "output");
             fs::create_directory_symlink("/sys", app.path() / "output");
         },
         "Piogge", ErrorKind::PathAccess},
        {"name leaving the output folder", [](auto&) {}, "../escaped", ErrorKind::PathAccess},
        {"blank name, a hidden \" .xls\"", [](auto&) {}, " ", ErrorKind::PathAccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppFolder app;
        WriteText(app.output("Piogge.xls"), "old");
        c.spoil(app);
        const auto contents = app.Contents();
        EXPECT_THAT([&] { app.Write(c.name); }, ThrowsKind(c.kind, c.file));
        EXPECT_EQ(app.Contents(), contents);
    }
}

// A report is prepared beside its target and renamed into place, so it
// arrives whole on any file system: here an output folder on a tmpfs, away
// from the file system of the current folder.
TEST(WriteRainReport, OutputFolderOnAnotherFileSystem)
{
    struct stat here {}, shm {};
    if (::stat(".", &here) != 0 || ::stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev) {
        GTEST_SKIP() << "no tmpfs at /dev/shm apart from the current folder's file system";
    }
    std::string pattern = "/dev/shm/quorvel-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path elsewhere = pattern;
    AppFolder app;
    fs::remove(app.path() / "output");
    fs::create_directory_symlink(elsewhere, app.path() / "output");
    EXPECT_NO_THROW(app.Write("Piogge"));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
    EXPECT_GT(fs::file_size(elsewhere / "Piogge.xls"), 512u);
    fs::remove_all(elsewhere);
}

}  // namespace
}  // namespace quorvel::test
