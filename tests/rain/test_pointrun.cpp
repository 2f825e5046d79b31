#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/PointRun.h"
#include "tests/rain/FakeRun.h"

namespace quorvel {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::FakeRun;

class PointRunTest : public ::testing::TestWithParam<PointRunVariant> {
protected:
    FakeRun run;
    void Run(const std::string& separator = ".") { ProcessPoint(GetParam(), run, run, separator); }
};

INSTANTIATE_TEST_SUITE_P(BothDialogs, PointRunTest,
                         ::testing::Values(PointRunVariant::MapPoint, PointRunVariant::CoordinateEntry));

// The typed text is read with the locale's decimal separator; the window gets
// what the report got.
TEST_P(PointRunTest, StepsInOrderAndTheReportGetsThePointTheCentreA2AndTheQuantiles)
{
    run.outputName = "  rain.XLS";
    run.east = "2400000,5";
    run.north = "5100001,5";
    Run(",");
    EXPECT_THAT(run.steps, ElementsAre("OutputName", "GetAppFolder", "EastText", "NorthText", "ComputeCellRain",
                                       "IsSafeOutputName", "ReportExists", "WriteRainReport", "AppendToRegister",
                                       "ShowMessage", "ResetMapPointer", "EnableMainWindow", "CloseDialog",
                                       "RunCompleted"));
    EXPECT_THAT(run.shown, ElementsAre("Eseguito!"));
    EXPECT_THAT(run.written, ElementsAre(2400000.5f, 5100001.5f, 2400250.0f, 5100250.0f, 0.375f, 24.5f, 33.25f, 39.0f,
                                         45.5f, 53.75f, 60.0f, 66.5f));
    EXPECT_EQ(run.writtenTo, "/apps/quorvel/  rain");
    ASSERT_EQ(run.completed.size(), 1u);
    EXPECT_EQ(run.completed[0].point, (GaussBoagaPoint{2400000.5f, 5100001.5f}));
    EXPECT_EQ(run.completed[0].rain.quantiles.q200, 66.5f);
    EXPECT_EQ(run.completed[0].appFolder + run.completed[0].outputName, run.writtenTo);
}

// A converted point's cell comes from its double-precision conversion, while
// the report and the window keep the single-precision point its texts give.
TEST_P(PointRunTest, ConvertedPointIsPlacedByAllItsDigits)
{
    const struct {
        const char* east;
        double exactEast;
        bool converted;
        GridCell cell;
    } cases[] = {
        {"2490499.887", 2490499.887, true, {140, 361}},   // single precision: 2490500, the next column
        {"2490499.887", 2490499.887, false, {140, 362}},  // typed in Gauss-Boaga: single precision, as always
        {"2400499.97", 2400499.97, true, {140, 181}},
    };
    for (const auto& c : cases) {
        FakeRun fresh;
        fresh.east = c.east;
        if (c.converted)
            fresh.converted = ConvertedPoint{c.exactEast, 5100000.3, true};
        ProcessPoint(GetParam(), fresh, fresh, ".");
        ASSERT_TRUE(fresh.cellAsked) << c.east;
        EXPECT_EQ(*fresh.cellAsked, c.cell) << c.east << (c.converted ? " converted" : "");
        ASSERT_EQ(fresh.completed.size(), 1u);
        EXPECT_EQ(fresh.completed[0].point.x, float(c.exactEast));
        EXPECT_EQ(fresh.completed[0].converted.has_value(), c.converted);
    }
}

TEST_P(PointRunTest, UnwritableRegisterIsAWarningAfterTheDoneMessage)
{
    run.registerFailure = Error(ErrorKind::PathAccess, "/apps/quorvel/output/registro.csv", SystemDetail(EACCES));
    Run();
    EXPECT_THAT(run.shown, ElementsAre("Eseguito!", AllOf(HasSubstr("Il report Piogge.xls è stato scritto"),
                                                          HasSubstr("/apps/quorvel/output/registro.csv"),
                                                          HasSubstr(SystemDetail(EACCES).italian))));
    EXPECT_EQ(run.steps.back(), "RunCompleted");
}

// An output name that is unsafe, blank (it would make the hidden file
// ".xls") or one Windows refuses is refused with a message naming the fault;
// nothing is written and the dialog stays open.
TEST_P(PointRunTest, RefusedOutputNames)
{
    for (const auto& [name, message, lastBefore] :
         {std::tuple{"..", "Nome del file di output non valido: \"..\"", "ComputeCellRain"},
          {" \t ", "Inserire il nome del file di output.", "ComputeCellRain"},
          {".xls", "Inserire il nome del file di output.", "ComputeCellRain"},
          {"a/b", "contenere il carattere «/»", "ComputeCellRain"},
          {"a\\b", "contenere il carattere «\\»", "ComputeCellRain"},
          {"Piogge: marzo", "contenere il carattere «:»", "ComputeCellRain"},
          {"a*", "«*»", "ComputeCellRain"},
          {"a?", "«?»", "ComputeCellRain"},
          {"\"a\"", "«\"»", "ComputeCellRain"},
          {"a<b>", "«<»", "ComputeCellRain"},
          {"a|b", "«|»", "ComputeCellRain"},
          {"a\tb", "caratteri di controllo", "ComputeCellRain"},
          {"Piogge.", "terminare con un punto", "ComputeCellRain"},
          {"Piogge .xls", "terminare con uno spazio", "ComputeCellRain"},
          {"con", "Il nome CON è riservato da Windows", "ComputeCellRain"},
          {"Piogge\xe2\x80\xa8", "Nome del file di output non valido", "IsSafeOutputName"}}) {
        FakeRun failing;
        failing.outputName = name;
        failing.safeName = false;
        ProcessPoint(GetParam(), failing, failing, ".");
        EXPECT_THAT(failing.shown, ElementsAre(HasSubstr(message)));
        EXPECT_EQ(std::vector(failing.steps.end() - 2, failing.steps.end()),
                  (std::vector<std::string>{lastBefore, "ShowMessage"}));
        EXPECT_TRUE(failing.written.empty());
    }
}

const Error kOutside(ErrorKind::SubscriptOutOfRange, kA2Raster, {"cell outside the parameter grid", "cella fuori"});
const Error kNoArea(ErrorKind::FileNotFound, kA2Header);
const std::string kEastEmpty = "Casella E vuota: inserire la coordinata Est in metri.";
const std::string kEastRange = " è fuori dalla griglia (Est da 2310000 a 2425000 m).";
const std::string kNorthRange = " è fuori dalla griglia (Nord da 5040000 a 5170000 m).";

// The typed variant answers every bad point with the one coordinate message and,
// below it, what is wrong with the typed values; the map-point variant says
// what went wrong. Without the grid's area only what the texts show is told.
TEST(PointRun, BadPointsEndTheRunWithAMessageAndNothingWritten)
{
    const struct {
        std::string east, north;
        std::optional<Error> computeFailure;
        const char* mapPointMessage;  // a part of what the map-point dialog says
        std::string typedFault;       // the line under the coordinate message; empty: none
        std::optional<Error> areaFailure = std::nullopt;
    } cases[] = {
        {"", "5100000", std::nullopt, "Coordinate del punto non valide", kEastEmpty},
        {" ", "", std::nullopt, "Coordinate del punto non valide",
         kEastEmpty + "\nCasella N vuota: inserire la coordinata Nord in metri."},
        {"2400000", " 51OOOOO ", std::nullopt, "E 2400000, N  51OOOOO ",
         "Casella N: \"51OOOOO\" non è un numero (solo cifre, con \",\" o \".\" per i decimali)."},
        {"2300000", "5100000", kOutside,
         "Il punto E 2300000, N 5100000 si trova fuori dalla griglia dei parametri grd/param_a2.ras",
         "Casella E: 2300000" + kEastRange},
        {"2425000", "5100000", kOutside, "fuori dalla griglia", "Casella E: 2425000" + kEastRange},
        {"2400000", "5170000,0", kOutside, "fuori dalla griglia", "Casella N: 5170000,0" + kNorthRange},
        {"-9000000000000", "5100000", Error(ErrorKind::Overflow, {}, {"beyond the grid arithmetic", "coordinata oltre"}),
         "si trova fuori dalla griglia dei parametri.", "Casella E: -9000000000000" + kEastRange},
        {"2400000", "1" + std::string(40, '0'), std::nullopt, "Coordinate del punto non valide",
         "Casella N: 100000000000000000000000..." + kNorthRange},
        {"5100000", "2400000.5", kOutside, "fuori dalla griglia",
         "I valori di E e N sembrano scambiati: Est va da 2310000 a 2425000 m, Nord da 5040000 a 5170000 m."},
        {"2300000", "5100000", kOutside, "fuori dalla griglia", "", kNoArea},
        {"", "5100000", std::nullopt, "Coordinate del punto non valide", kEastEmpty, kNoArea},
        {"2400000", "5100000", Error(ErrorKind::FileNotFound, kA1Raster), "File non trovato: grd/param_a1.ras", ""},
        {"2400000", "5100000", Error(ErrorKind::PathAccess, kA1Raster, SystemDetail(ENOTDIR)),
         "Errore di accesso al percorso o al file: grd/param_a1.ras\nun elemento del percorso non è una cartella", ""},
        {"2400000", "5100000",
         Error(ErrorKind::NoValidData, {}, {"row 140, column 181: a1 = -9999", "riga 140, colonna 181: a1 = -9999"}),
         "La cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non contiene dati validi.", ""},
        {"2400000", "5100000",
         Error(ErrorKind::NoValidRainfall, {}, {"row 140, column 181: a2 = 0.39, a1 = 0.3, cv = 29 give q2 = -2.7 mm",
                                                "riga 140, colonna 181: a2 = 0.39, a1 = 0.3, cv = 29 danno q2 = -2.7 mm"}),
         "I parametri della cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non danno una pioggia valida.\n"
         "riga 140, colonna 181: a2 = 0.39, a1 = 0.3, cv = 29 danno q2 = -2.7 mm",
         ""},
        {"2400000", "5100000",
         Error(ErrorKind::SubscriptOutOfRange, kCvHeader, {"grid without rows or columns", "griglia senza righe o colonne"}),
         "Impossibile calcolare le piogge del punto.\nIndice non compreso nell'intervallo: grd/param_cv.hdr\n"
         "griglia senza righe o colonne",
         ""},
    };
    for (const auto& bad : cases)
        for (auto variant : {PointRunVariant::MapPoint, PointRunVariant::CoordinateEntry}) {
            SCOPED_TRACE(bad.east + ", " + bad.north);
            FakeRun run;
            run.east = bad.east;
            run.north = bad.north;
            run.computeFailure = bad.computeFailure;
            run.areaFailure = bad.areaFailure;
            ProcessPoint(variant, run, run, ".");
            ASSERT_EQ(run.shown.size(), 1u);
            if (variant == PointRunVariant::CoordinateEntry)
                EXPECT_EQ(run.shown[0], kCoordinateMessage + (bad.typedFault.empty() ? "" : "\n" + bad.typedFault));
            else
                EXPECT_THAT(run.shown[0], HasSubstr(bad.mapPointMessage));
            EXPECT_EQ(run.steps.back(), "ShowMessage");
            EXPECT_TRUE(run.written.empty());
        }
}

// More cases, shared with quorvel-batch, are in its tests.
TEST(TextToSingle, ReadsOnlyPlainDecimalNumbers)
{
    const struct {
        std::string text, separator;
        std::optional<float> value;  // none: the text is refused
        ErrorKind failure = ErrorKind::TypeMismatch;
    } cases[] = {
        {"2400000", ".", 2400000.0f},     {"2400000,5", ",", 2400000.5f},     {"2385123.4", ".", 2385123.5f},
        {"-12,25", ",", -12.25f},          {",5", ",", 0.5f},                  {"", ",", std::nullopt},
        {",", ",", std::nullopt},          {"2.400.000", ",", std::nullopt},   {"2.400,5", ",", std::nullopt},
        {"2400000.5", ",", 2400000.5f},   {"2400000,5", ".", 2400000.5f},     {"2400000\u066b5", "\u066b", 2400000.5f},
        {"1" + std::string(40, '0'), ".", std::nullopt, ErrorKind::Overflow},
    };
    for (const auto& c : cases) {
        try {
            const float value = TextToSingle(c.text, c.separator);
            EXPECT_TRUE(c.value && value == *c.value) << c.text << " read as " << value;
        } catch (const Error& e) {
            EXPECT_FALSE(c.value) << c.text;
            EXPECT_EQ(e.kind(), c.failure) << c.text;
        }
    }
}

}  // namespace
}  // namespace quorvel
