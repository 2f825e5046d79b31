#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/PointRun.h"

namespace quorvel {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The dialog and the operations in one, logging every step in order.
class FakeRun : public PointRunDialog, public PointRunOperations {
public:
    mutable std::vector<std::string> steps;
    std::vector<std::string> messages, questions;
    std::string outputName = "Piogge", east = "2400000", north = "5100000";
    bool answer = true, reportExists = false, safeName = true;
    std::optional<Error> folderFailure, computeFailure, areaFailure, writeFailure, registerFailure;
    std::vector<PointRunResult> completed;
    std::vector<float> written;  // the twelve numbers of the last write
    std::string writtenFolder, writtenName;

    std::string OutputName() const override { return Step("OutputName", outputName); }
    std::string EastText() const override { return Step("EastText", east); }
    std::string NorthText() const override { return Step("NorthText", north); }
    void ShowMessage(const std::string& text) override { messages.push_back(Step("ShowMessage", text)); }
    bool Ask(const std::string& text) override
    {
        questions.push_back(text);
        return Step("Ask", answer);
    }
    void ResetMapPointer() override { Step("ResetMapPointer"); }
    void EnableMainWindow() override { Step("EnableMainWindow"); }
    void CloseDialog() override { Step("CloseDialog"); }
    void RunCompleted(const PointRunResult& result) override { completed.push_back(Step("RunCompleted", result)); }

    std::string GetAppFolder() override { return Step<std::string>("GetAppFolder", "/apps/quorvel/", folderFailure); }
    PointRain ComputePointRain(GaussBoagaPoint) override
    {
        return Step("ComputePointRain",
                    PointRain{.cell = {140, 181}, .centre = {2400250, 5100250}, .a2 = 0.375f,
                              .quantiles = {24.5f, 33.25f, 39.0f, 45.5f, 53.75f, 60.0f, 66.5f}},
                    computeFailure);
    }
    GridArea ParameterGridArea() override
    {
        if (areaFailure)
            throw *areaFailure;
        return {2310000, 2425000, 5040000, 5170000};
    }
    bool IsSafeOutputName(const std::string&) override { return Step("IsSafeOutputName", safeName); }
    bool ReportExists(const std::string&, const std::string&) override { return Step("ReportExists", reportExists); }
    void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2, float q2, float q5,
                         float q10, float q20, float q50, float q100, float q200, const std::string& appFolder,
                         const std::string& name) override
    {
        Step("WriteRainReport", 0, writeFailure);
        written = {east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100, q200};
        writtenFolder = appFolder;
        writtenName = name;
    }
    void AppendToRegister(const PointRunResult&) override { Step("AppendToRegister", 0, registerFailure); }

private:
    // Logs the step, then fails as told or gives back the value.
    template <class T = int>
    T Step(const char* name, T value = {}, const std::optional<Error>& failure = {}) const
    {
        steps.push_back(name);
        if (failure)
            throw *failure;
        return value;
    }
};

class PointRunTest : public ::testing::TestWithParam<PointRunVariant> {
protected:
    FakeRun run;
    void Run(const std::string& separator = ".") { ProcessPoint(GetParam(), run, run, separator); }
};

INSTANTIATE_TEST_SUITE_P(BothDialogs, PointRunTest,
                         ::testing::Values(PointRunVariant::MapPoint, PointRunVariant::CoordinateEntry));

// The typed text is read with the locale's decimal separator.
TEST_P(PointRunTest, StepsInOrderAndTheReportGetsThePointTheCentreA2AndTheQuantiles)
{
    run.outputName = "  rain.xls ";
    run.east = "2400000,5";
    run.north = "5100001,5";
    Run(",");
    EXPECT_THAT(run.steps, ElementsAre("OutputName", "GetAppFolder", "EastText", "NorthText", "ComputePointRain",
                                       "IsSafeOutputName", "ReportExists", "WriteRainReport", "AppendToRegister",
                                       "ShowMessage", "ResetMapPointer", "EnableMainWindow", "CloseDialog",
                                       "RunCompleted"));
    EXPECT_THAT(run.messages, ElementsAre("Eseguito!"));
    EXPECT_THAT(run.written, ElementsAre(2400000.5f, 5100001.5f, 2400250.0f, 5100250.0f, 0.375f, 24.5f, 33.25f, 39.0f,
                                         45.5f, 53.75f, 60.0f, 66.5f));
    EXPECT_EQ(run.writtenFolder, "/apps/quorvel/");
    EXPECT_EQ(run.writtenName, "  rain.xls ");
    // The window gets what the report got.
    ASSERT_EQ(run.completed.size(), 1u);
    EXPECT_EQ(run.completed[0].point, (GaussBoagaPoint{2400000.5f, 5100001.5f}));
    EXPECT_EQ(run.completed[0].rain.quantiles.q200, 66.5f);
    EXPECT_EQ(run.completed[0].appFolder, "/apps/quorvel/");
    EXPECT_EQ(run.completed[0].outputName, "  rain.xls ");
}

TEST_P(PointRunTest, UnwritableRegisterIsAWarningAfterTheDoneMessage)
{
    run.registerFailure = Error(ErrorKind::PathAccess, "/apps/quorvel/output/registro.csv", SystemDetail(EACCES));
    Run();
    EXPECT_THAT(run.messages, ElementsAre("Eseguito!", AllOf(HasSubstr("Il report Piogge.xls è stato scritto"),
                                                             HasSubstr("/apps/quorvel/output/registro.csv"),
                                                             HasSubstr(SystemDetail(EACCES).italian))));
    EXPECT_EQ(run.steps.back(), "RunCompleted");
}

TEST_P(PointRunTest, ExistingReportIsReplacedOnlyWhenTheUserSaysSo)
{
    run.reportExists = true;
    run.answer = false;
    Run();
    EXPECT_THAT(run.questions, ElementsAre("Il file Piogge.xls esiste già. Sostituirlo?"));
    EXPECT_EQ(run.steps.back(), "Ask");
    EXPECT_THAT(run.messages, IsEmpty());
    run.answer = true;
    Run();
    EXPECT_EQ(run.questions.size(), 2u);
    EXPECT_THAT(run.messages, ElementsAre("Eseguito!"));
    EXPECT_EQ(run.steps.back(), "RunCompleted");
}

// Each failure says what went wrong, writes nothing and keeps the dialog open.
TEST_P(PointRunTest, FailuresOfTheRun)
{
    const struct {
        void (*set)(FakeRun&);
        std::vector<std::string> message;  // parts of it
        const char* lastBefore;            // the last step before the message
    } cases[] = {
        {[](FakeRun& r) {
             r.safeName = false;
             r.outputName = "../Piogge";
         },
         {"Nome del file di output non valido: \"../Piogge\""}, "IsSafeOutputName"},
        // A blank name would make the hidden file ".xls".
        {[](FakeRun& r) { r.outputName = ""; }, {"Inserire il nome del file di output."}, "ComputePointRain"},
        {[](FakeRun& r) { r.outputName = " \t "; }, {"Inserire il nome del file di output."}, "ComputePointRain"},
        {[](FakeRun& r) { r.folderFailure = Error(ErrorKind::FileNotFound, "Quorvel"); },
         {"cartella del programma", "Quorvel"}, "GetAppFolder"},
        {[](FakeRun& r) { r.writeFailure = Error(ErrorKind::FileNotFound, "/a/programs/prototipo/pioggeTRNprot.xls"); },
         {"Impossibile scrivere il report Piogge.xls", "pioggeTRNprot.xls"}, "WriteRainReport"},
    };
    for (const auto& c : cases) {
        FakeRun failing;
        c.set(failing);
        ProcessPoint(GetParam(), failing, failing, ".");
        ASSERT_EQ(failing.messages.size(), 1u);
        for (const std::string& part : c.message)
            EXPECT_THAT(failing.messages[0], HasSubstr(part));
        ASSERT_GE(failing.steps.size(), 2u);
        EXPECT_EQ(failing.steps[failing.steps.size() - 2], c.lastBefore);
        EXPECT_EQ(failing.steps.back(), "ShowMessage");
        EXPECT_TRUE(failing.written.empty());
    }
}

const Error kOutside(ErrorKind::SubscriptOutOfRange, kA2Raster, {"cell outside the parameter grid", "cella fuori"});

// The typed variant answers every bad point with the one coordinate message and,
// below it, what is wrong with the typed values; the map-point variant says
// what went wrong.
TEST(PointRun, BadPointsEndTheRunWithAMessageAndNothingWritten)
{
    const struct {
        std::string east, north;
        std::optional<Error> computeFailure;
        const char* mapPointMessage;  // a part of what the map-point dialog says
        const char* typedFault;       // the line under the coordinate message; empty: none
    } cases[] = {
        {"", "5100000", std::nullopt, "Coordinate del punto non valide",
         "Casella E vuota: inserire la coordinata Est in metri."},
        {" ", "", std::nullopt, "Coordinate del punto non valide",
         "Casella E vuota: inserire la coordinata Est in metri.\n"
         "Casella N vuota: inserire la coordinata Nord in metri."},
        {"2400000", " 51OOOOO ", std::nullopt, "E 2400000, N  51OOOOO ",
         "Casella N: \"51OOOOO\" non è un numero (solo cifre, con \",\" o \".\" per i decimali)."},
        {"2300000", "5100000", kOutside,
         "Il punto E 2300000, N 5100000 si trova fuori dalla griglia dei parametri grd/param_a2.ras",
         "Casella E: 2300000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        {"2425000", "5100000", kOutside, "fuori dalla griglia",
         "Casella E: 2425000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        {"2400000", "5170000,0", kOutside, "fuori dalla griglia",
         "Casella N: 5170000,0 è fuori dalla griglia (Nord da 5040000 a 5170000 m)."},
        {"-9000000000000", "5100000", Error(ErrorKind::Overflow, {}, {"beyond the grid arithmetic", "coordinata oltre"}),
         "si trova fuori dalla griglia dei parametri.",
         "Casella E: -9000000000000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        {"2400000", "1" + std::string(40, '0'), std::nullopt, "Coordinate del punto non valide",
         "Casella N: 100000000000000000000000... è fuori dalla griglia (Nord da 5040000 a 5170000 m)."},
        {"5100000", "2400000.5", kOutside, "fuori dalla griglia",
         "I valori di E e N sembrano scambiati: Est va da 2310000 a 2425000 m, Nord da 5040000 a 5170000 m."},
        {"2400000", "5100000", Error(ErrorKind::FileNotFound, kA1Raster), "File non trovato: grd/param_a1.ras", ""},
        {"2400000", "5100000",
         Error(ErrorKind::NoValidData, {}, {"row 140, column 181: a1 = -9999", "riga 140, colonna 181: a1 = -9999"}),
         "La cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non contiene dati validi.", ""},
        {"2400000", "5100000",
         Error(ErrorKind::Overflow, {}, {"quantile beyond single precision", "quantile oltre la precisione singola"}),
         "I parametri della cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non danno una pioggia valida.",
         ""},
        {"2400000", "5100000",
         Error(ErrorKind::SubscriptOutOfRange, kCvHeader, {"grid without rows or columns", "griglia senza righe o colonne"}),
         "Impossibile calcolare le piogge del punto.\nIndice non compreso nell'intervallo: grd/param_cv.hdr\n"
         "griglia senza righe o colonne",
         ""},
    };
    for (const auto& bad : cases)
        for (auto variant : {PointRunVariant::MapPoint, PointRunVariant::CoordinateEntry}) {
            SCOPED_TRACE(bad.mapPointMessage);
            FakeRun run;
            run.east = bad.east;
            run.north = bad.north;
            run.computeFailure = bad.computeFailure;
            ProcessPoint(variant, run, run, ".");
            ASSERT_EQ(run.messages.size(), 1u);
            if (variant == PointRunVariant::CoordinateEntry)
                EXPECT_EQ(run.messages[0],
                          kCoordinateMessage + std::string(*bad.typedFault ? "\n" : "") + bad.typedFault);
            else
                EXPECT_THAT(run.messages[0], HasSubstr(bad.mapPointMessage));
            EXPECT_EQ(run.steps.back(), "ShowMessage");
            EXPECT_TRUE(run.written.empty());
        }
}

// Without the grid's area the typed point's faults that need none are still told.
TEST(PointRun, WithoutTheAreaTheTypedFaultsTellOnlyWhatTheTextsShow)
{
    FakeRun run;
    run.areaFailure = Error(ErrorKind::FileNotFound, kA2Header);
    run.computeFailure = kOutside;
    run.east = "2300000";
    ProcessPoint(PointRunVariant::CoordinateEntry, run, run, ".");
    run.east = "";
    ProcessPoint(PointRunVariant::CoordinateEntry, run, run, ".");
    EXPECT_THAT(run.messages, ElementsAre(kCoordinateMessage, std::string(kCoordinateMessage) +
                                                                  "\nCasella E vuota: inserire la coordinata Est in metri."));
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
