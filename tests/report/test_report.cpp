// The application folder, the report's name and cells, and the report file as
// a whole on the templates of three producers: the sample template, one
// written by LibreOffice and one written by python3-xlwt.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "BiffReader.h"
#include "rain/Error.h"
#include "report/Report.h"
#include "report/Workbook.h"
#include "tests/rain/GridFixture.h"

namespace fs = std::filesystem;

namespace quorvel::test {
namespace {

void WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An application folder holding a template and an output folder.
class AppFolder : public ScratchDir {
public:
    explicit AppFolder(const fs::path& templateFile = {})
    {
        fs::create_directories(path() / "programs/prototipo");
        fs::create_directory(path() / "output");
        if (!templateFile.empty()) {
            fs::copy_file(templateFile, path() / kTemplatePath);
        }
    }
    std::string folder() const { return path().string() + "/"; }
    fs::path output(const std::string& name) const { return path() / "output" / name; }
    std::vector<std::string> outputFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path() / "output")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    void Write(const std::string& name, float east = 2400000, float north = 5100000) const
    {
        WriteRainReport(east, north, 2400250, 5100250, 0.35f, 31.5f, 42.25f, 49.125f, 56.0f,
                        65.5f, 72.75f, 79.875f, folder(), name);
    }
};

const fs::path kFixtures = QUORVEL_REPORT_FIXTURES;

std::vector<fs::path> Templates()
{
    std::vector<fs::path> templates = {kFixtures / "libreoffice_template.xls",
                                       kFixtures / "xlwt_template.xls"};
    if (fs::exists(QUORVEL_SAMPLE_TEMPLATE)) {
        templates.push_back(QUORVEL_SAMPLE_TEMPLATE);
    }
    return templates;
}

ErrorKind KindOfFailure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no failure";
    return ErrorKind::Overflow;
}

TEST(GetAppFolder, CurrentDirectoryWithSeparatorWhenTheFileIsThere)
{
    ScratchWorkingDir dir;
    std::ofstream(kExecutableName) << "x";
    fs::create_directory("folder");
    EXPECT_EQ(GetAppFolder(kExecutableName), fs::current_path().string() + "/");
    EXPECT_EQ(KindOfFailure([] { GetAppFolder("Quorvel.exe"); }), ErrorKind::FileNotFound);
    EXPECT_EQ(KindOfFailure([] { GetAppFolder("folder"); }), ErrorKind::FileNotFound);
}

TEST(ReportName, ExtensionAlwaysAppendedAndNamesKeptInTheOutputFolder)
{
    EXPECT_EQ(ReportPath("/a/", "Piogge"), "/a/output/Piogge.xls");
    EXPECT_EQ(ReportPath("/a/", ""), "/a/output/.xls");
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
    auto cells = ReportCells(2385123.5f, 5100001.5f, 2385122.5f, 5100000.5f, 26.448189f, 1, 2,
                             3, 4, 5, 6, 7);
    EXPECT_EQ(cells[0].value, 2385124.0);
    EXPECT_EQ(cells[1].value, 5100002.0);
    EXPECT_EQ(cells[2].value, 2385122.0);
    EXPECT_EQ(cells[3].value, 5100000.0);
    EXPECT_EQ(cells[4].value, static_cast<double>(26.448189f));
    EXPECT_NE(cells[4].value, 26.448189);
    const std::vector<std::pair<int, int>> layout = {{5, 2}, {5, 5}, {6, 2}, {6, 5},
                                                     {9, 1}, {12, 1}, {12, 2}, {12, 3},
                                                     {12, 4}, {12, 5}, {12, 6}, {12, 7}};
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ((std::pair<int, int>(cells[i].row, cells[i].column)), layout[i]);
        if (i >= 5) {
            EXPECT_EQ(cells[i].value, static_cast<double>(i - 4));
        }
    }
    EXPECT_EQ(KindOfFailure([] { ReportCells(3e9f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); }),
              ErrorKind::Overflow);
    EXPECT_EQ(KindOfFailure([] { ReportCells(0, 0, 0, 0, NAN, 0, 0, 0, 0, 0, 0, 0); }),
              ErrorKind::FloatingPoint);
}

class Producers : public testing::TestWithParam<fs::path> {};

TEST_P(Producers, ReportKeepsEverythingButTheWorkbookStream)
{
    AppFolder app(GetParam());
    const Bytes templateBytes = ReadFileBytes(GetParam().string());
    app.Write("Piogge");
    EXPECT_EQ(ReadFileBytes(app.folder() + kTemplatePath), templateBytes);
    EXPECT_EQ(app.outputFiles(), std::vector<std::string>{"Piogge.xls"});

    const Bytes report = ReadFileBytes(app.output("Piogge.xls").string());
    const auto before = ReadCompoundFile(templateBytes);
    const auto after = ReadCompoundFile(report);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].path, after[i].path);
        EXPECT_EQ(before[i].storage, after[i].storage);
        EXPECT_EQ(before[i].classId, after[i].classId) << before[i].path;
        if (before[i].path != "/Workbook") {
            EXPECT_EQ(before[i].bytes, after[i].bytes) << before[i].path;
        }
    }
    const Bytes stream = WorkbookStream(report);
    EXPECT_EQ(OffsetProblems(stream), "");
    int numbers = 0, selections = 0;
    for (const BiffRecord& r : ReadBiff(stream)) {
        if (r.nested) {
            continue;
        }
        if (r.sheet == 0 && r.type == 0x0203 && Get16(r.data, 0) == 5 && Get16(r.data, 2) == 2) {
            EXPECT_EQ(GetDouble(r.data, 6), 2400000.0);
            ++numbers;
        }
        if (r.type == 0x003D) {
            EXPECT_EQ(Get16(r.data, 10), 0) << "first sheet active";
        }
        if (r.type == 0x023E) {
            EXPECT_EQ((Get16(r.data, 0) & 0x0600) == 0x0600, r.sheet == 0) << "sheet " << r.sheet;
        }
        if (r.type == 0x001D && r.sheet == 0) {
            EXPECT_EQ(Get16(r.data, 1), 0);  // active cell A1
            EXPECT_EQ(Get16(r.data, 3), 0);
            ++selections;
        }
    }
    EXPECT_EQ(numbers, 1);
    EXPECT_GE(selections, 1);
}

TEST_P(Producers, SecondReportFromTheSameTemplateIsTheSame)
{
    AppFolder app(GetParam());
    app.Write("one");
    app.Write("two");
    EXPECT_EQ(ReadFileBytes(app.output("one.xls").string()),
              ReadFileBytes(app.output("two.xls").string()));
}

INSTANTIATE_TEST_SUITE_P(Templates, Producers, testing::ValuesIn(Templates()),
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
    EXPECT_GT(widths[0], 10);
    EXPECT_LT(widths[0], 20);
    EXPECT_GT(widths[1], 28);
    EXPECT_LT(widths[1], 40);
    EXPECT_GT(widths[2], 7);
    EXPECT_LT(widths[2], 14);
}

TEST(WriteRainReport, OddNamesStayInTheOutputFolder)
{
    AppFolder app(kFixtures / "xlwt_template.xls");
    app.Write("rain.xls");
    EXPECT_EQ(app.outputFiles(), (std::vector<std::string>{"rain.xls.xls"}));
    EXPECT_EQ(KindOfFailure([&] { app.Write("../escaped"); }), ErrorKind::PathAccess);
    EXPECT_EQ(KindOfFailure([&] { app.Write(" "); }), ErrorKind::PathAccess) << "a hidden \" .xls\"";
    EXPECT_FALSE(fs::exists(app.path() / "escaped.xls"));
}

TEST(WriteRainReport, FailuresLeaveNothingBehind)
{
    {
        AppFolder app;
        EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::FileNotFound);
        EXPECT_TRUE(app.outputFiles().empty());
    }
    {
        AppFolder app(kFixtures / "xlwt_template.xls");
        fs::remove(app.path() / "output");
        EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::FileNotFound);
        EXPECT_FALSE(fs::exists(app.path() / "output"));
    }
    {
        // An output "folder" that is a file cannot take a report either.
        AppFolder app(kFixtures / "xlwt_template.xls");
        fs::remove(app.path() / "output");
        std::ofstream(app.path() / "output") << "file";
        EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::FileNotFound);
    }
    {
        AppFolder app(kFixtures / "xlwt_template.xls");
        WriteBytes(app.path() / kTemplatePath, Bytes{'n', 'o', 't', ' ', 'x', 'l', 's'});
        EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::BadFileFormat);
        EXPECT_TRUE(app.outputFiles().empty());
    }
}

// A record of the second sheet cut to no data, its freed bytes kept as a
// record of their own so that nothing else in the stream moves.
TEST(WriteRainReport, ShortRecordInAnySheetIsABadTemplate)
{
    const Bytes stream = WorkbookStream(ReadFileBytes(kFixtures / "libreoffice_template.xls"));
    const auto records = ReadBiff(stream);
    for (const std::uint16_t type : {0x0208, 0x00FD}) {  // ROW, LABELSST
        const auto record = std::find_if(records.begin(), records.end(), [&](const BiffRecord& r) {
            return r.sheet == 1 && !r.nested && r.type == type;
        });
        ASSERT_NE(record, records.end()) << type;
        Bytes cut = stream;
        const Bytes header = Le16({0, 0x0000, std::uint32_t(record->data.size() - 4)});
        std::copy(header.begin(), header.end(), cut.begin() + record->offset + 2);

        AppFolder app;
        WriteBytes(app.path() / kTemplatePath, MakeCompoundFile({{"Workbook", cut}}));
        const Bytes old = {'o', 'l', 'd'};
        WriteBytes(app.output("Piogge.xls"), old);
        try {
            app.Write("Piogge");
            ADD_FAILURE() << type << " accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), ErrorKind::BadFileFormat);
            EXPECT_EQ(error.file(), app.folder() + kTemplatePath);
            EXPECT_NE(error.detail().find("too short"), std::string::npos) << error.detail();
        }
        EXPECT_EQ(ReadFileBytes(app.output("Piogge.xls")), old);
        EXPECT_EQ(app.outputFiles(), std::vector<std::string>{"Piogge.xls"});
    }
}

TEST(WriteRainReport, UnwritableOutputFolderFails)
{
    AppFolder app(kFixtures / "xlwt_template.xls");
    const fs::path output = app.path() / "output";
    const bool root = geteuid() == 0;
    if (root) {
        // Permission bits do not bind root; sysfs refuses new files to everyone.
        fs::remove(output);
        fs::create_directory_symlink("/sys", output);
    } else {
        fs::permissions(output, fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::PathAccess);
    EXPECT_FALSE(fs::exists(app.output("Piogge.xls")));
    if (!root) {
        fs::permissions(output, fs::perms::owner_all);
        EXPECT_TRUE(app.outputFiles().empty());
    }
}

TEST(WriteRainReport, ExistingReportReplacedWholeOnlyOnSuccess)
{
    AppFolder app(kFixtures / "libreoffice_template.xls");
    const Bytes old = {'o', 'l', 'd'};
    WriteBytes(app.output("Piogge.xls"), old);
    const Bytes good = ReadFileBytes(app.folder() + kTemplatePath);

    WriteBytes(app.path() / kTemplatePath, Bytes(good.begin(), good.begin() + good.size() / 2));
    EXPECT_EQ(KindOfFailure([&] { app.Write("Piogge"); }), ErrorKind::BadFileFormat);
    EXPECT_EQ(ReadFileBytes(app.output("Piogge.xls").string()), old);
    EXPECT_EQ(app.outputFiles(), std::vector<std::string>{"Piogge.xls"});

    WriteBytes(app.path() / kTemplatePath, good);
    app.Write("Piogge");
    EXPECT_EQ(OffsetProblems(WorkbookStream(ReadFileBytes(app.output("Piogge.xls").string()))), "");
    EXPECT_EQ(app.outputFiles(), std::vector<std::string>{"Piogge.xls"});
    struct stat info {};
    ASSERT_EQ(stat(app.output("Piogge.xls").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IRGRP) << "a report is as readable as any new file";
}

}  // namespace
}  // namespace quorvel::test
