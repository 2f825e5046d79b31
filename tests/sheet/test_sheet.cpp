// The PDF sheet read back by poppler's tools, as any reader of the file would:
// its text, its fonts and its one A4 page.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/PointRain.h"
#include "rain/SampleMark.h"
#include "report/Register.h"
#include "sheet/RainSheet.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

using testing::HasSubstr;
using testing::Not;

std::string Output(const std::string& command)
{
    std::string text;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        text.append(buffer, got);
    return text;
}

RainSheet Sheet()
{
    RainSheet sheet;
    sheet.run = {"2026-12-07T09:15:03+01:00", "2.0", "rossi", "Valle alta.xls", {2400000, 5100000},
                 {{140, 181}, {2400250, 5100250}, 0.3912f, 29.05f, 0.30700001f,
                  {27.45f, 36.3f, 42.71f, 49.25f, 58.42f, 65.65f, 73.35f}},
                 {std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c'), std::string(64, 'd')},
                 {std::string(64, 'e'), std::string(64, 'f'), std::string(64, '0')}, "esempio"};
    sheet.wgs84 = LatLon{45.987654, 13.123456};
    sheet.map = QImage(300, 300, QImage::Format_RGB32);
    sheet.map.fill(Qt::white);
    return sheet;
}

TEST(RainSheet, TextCanBeReadBackAndFontsAreEmbedded)
{
    test::ScratchDir dir;
    const std::string pdf = dir / "foglio.pdf";
    WriteRainSheet(Sheet(), pdf);

    const std::string text = Output("pdftotext -layout '" + pdf + "' -");
    // The heights as the results pane shows them, in the Italian format
    // (27.45f lies just above 27.45, 73.35f just below 73.35).
    for (const char* height : {"27,5", "36,3", "42,7", "49,3", "58,4", "65,7", "73,3"})
        EXPECT_THAT(text, HasSubstr(height));
    for (const char* part : {"Pioggia di progetto", "Valle alta.xls", "E 2400000 m", "N 5100000 m",
                             "riga 140, colonna 181", "centro E 2400250 m", "a2 = 0,3912", "a1 = 29,05",
                             "cv = 0,307", "lat 45,987654°", "lon 13,123456°", "Tempo di ritorno T (anni)",
                             "h 1 ora (mm)", "2026-12-07T09:15:03+01:00", "Quorvel 2.0", kSampleWarning})
        EXPECT_THAT(text, HasSubstr(part));
    for (const char digit : {'a', 'b', 'c', 'd', 'e', 'f', '0'})
        EXPECT_THAT(text, HasSubstr(std::string(64, digit)));

    const std::string fonts = Output("pdffonts '" + pdf + "'");
    EXPECT_THAT(fonts, HasSubstr("DejaVuSans"));
    // Columns: name type encoding emb sub uni object ID; every font embedded.
    std::istringstream lines(fonts);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    for (int count = 0; std::getline(lines, line); ++count)
        EXPECT_THAT(line, testing::ContainsRegex(" yes +(yes|no) +(yes|no) ")) << line;

    EXPECT_THAT(Output("pdfinfo '" + pdf + "'"),
                testing::AllOf(HasSubstr("Pages:           1"), HasSubstr("(A4)")));
}

// What the page adds or leaves out as the run and the region change; every
// variant stays on one page. With the region's law the heights at 1 to 24
// hours (73.35f * 12^0.3912f and 27.45f * 3^0.3912f, to one decimal).
TEST(RainSheet, PartsThatDependOnTheRun)
{
    const struct {
        const char* name;
        std::function<void(RainSheet&)> change;
        std::vector<std::string> shown, left;
    } cases[] = {
        {"real grids, no WGS84 point",
         [](RainSheet& sheet) {
             sheet.run.data.clear();
             sheet.wgs84.reset();
         },
         {},
         {"esempio", "WGS84"}},
        {"a law", [](RainSheet& sheet) { sheet.law = ParseDurationLaw("law=power\nhours_from=1\nhours_to=12\n", "law"); },
         {"Altezze di pioggia per durata", "193,9", "42,2", "12 h"}, {"24 h"}},
        {"no law", [](RainSheet&) {}, {}, {"per durata", "meno di 4 m dal bordo della sua cella"}},
        // A converted point near its cell's edge says so on its sheet, as in the window.
        {"near a cell's edge", [](RainSheet& sheet) { sheet.nearCellEdge = true; },
         {"meno di 4 m dal bordo della sua cella"}, {}},
    };
    for (const auto& c : cases) {
        RainSheet sheet = Sheet();
        c.change(sheet);
        test::ScratchDir dir;
        WriteRainSheet(sheet, dir / "foglio.pdf");
        // Lines broken anywhere by the page read as one.
        const std::string text =
            std::regex_replace(Output("pdftotext '" + dir / "foglio.pdf" + "' -"), std::regex("\\s+"), " ");
        for (const std::string& part : c.shown)
            EXPECT_THAT(text, HasSubstr(part)) << c.name;
        for (const std::string& part : c.left)
            EXPECT_THAT(text, Not(HasSubstr(part))) << c.name;
        EXPECT_THAT(Output("pdfinfo '" + dir / "foglio.pdf" + "'"), HasSubstr("Pages:           1")) << c.name;
    }
}

// The sheet of a run tells what its register line tells, even after the
// grids changed: the run's time and digests, and the sample band of the
// sample's grids it was computed from.
TEST(PointSheets, ARunsSheetTellsItsOwnRecordAfterTheGridsChange)
{
    namespace fs = std::filesystem;
    test::ScratchDir dir;
    const std::string folder = dir / "app/";
    fs::create_directories(folder);
    fs::copy(QUORVEL_APP_DIR "/grd", folder + "grd");
    for (const char* shared : {"dat", "Shp", "Raster", "programs"})
        fs::create_directory_symlink(fs::path(QUORVEL_APP_DIR) / shared, folder + shared);
    ASSERT_TRUE(IsSyntheticSample(folder));

    const GaussBoagaPoint point{2400000, 5100000};
    PointRunResult run{point, ComputePointRain(point, ParameterGrids::Load(folder)), folder, "Valle"};
    FileDigests digests;
    run.record = RecordRun(run, digests);
    const std::string line = RegisterLine(EntryOf(run, *run.record));

    std::string grid = test::ReadText(folder + kA1Raster);
    grid[0] = char(grid[0] ^ 1);
    fs::remove(folder + kA1Raster);
    test::WriteText(folder + kA1Raster, grid);
    ASSERT_NE(digests.Sha256(folder + kA1Raster), run.record->digests[1]);

    PointSheets(folder).WriteRun(run, dir / "foglio.pdf");
    const std::string text = Output("pdftotext '" + dir / "foglio.pdf" + "' -");
    EXPECT_THAT(text, HasSubstr(run.record->time));
    EXPECT_THAT(line, HasSubstr(run.record->time));
    std::vector<std::string> recorded(run.record->digests.begin(), run.record->digests.end());
    recorded.insert(recorded.end(), run.record->headerDigests.begin(), run.record->headerDigests.end());
    for (const std::string& digest : recorded) {
        EXPECT_THAT(text, HasSubstr(digest));
        EXPECT_THAT(line, HasSubstr(digest));
    }
    EXPECT_THAT(text, Not(HasSubstr(digests.Sha256(folder + kA1Raster))));
    EXPECT_THAT(text, HasSubstr(kSampleWarning));

    // A run that was never recorded has no sheet: nothing would tell its data.
    run.record.reset();
    EXPECT_THROW(PointSheets(folder).WriteRun(run, dir / "other.pdf"), Error);
    EXPECT_FALSE(fs::exists(dir / "other.pdf"));
}

// The map of the sheet: the sample region around the point, its cell
// outlined and the point dotted at the centre.
TEST(RainSheet, MapOfThePointAndItsCell)
{
    PointSheets sheets(QUORVEL_APP_DIR "/");
    const GaussBoagaPoint point{2400100, 5100200};
    const QImage map = sheets.PointMap(point, CellForPoint(point.x, point.y));
    ASSERT_EQ(map.size(), QSize(320, 320));
    EXPECT_EQ(map.pixelColor(160, 160), QColor(0xd5, 0x5e, 0x00));
    // The cell's west edge lies 100 m west of the point: 4 pixels at 25 m each.
    const QColor edge = map.pixelColor(156, 166);
    EXPECT_TRUE(edge.red() > 190 && edge.green() < 130 && edge.blue() < 60) << edge.name().toStdString();
    // The relief below: many colours, not a blank picture.
    std::set<QRgb> colours;
    for (int x = 0; x < 320; x += 3)
        colours.insert(map.pixel(x, 100));
    EXPECT_GT(colours.size(), 20u);
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv)
{
    // Listing the cases runs this too, with no display at hand.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
