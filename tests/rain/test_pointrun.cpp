#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/PointRun.h"

namespace quorvel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// One log for the dialog and the operations, so the order of the steps shows.
struct RunLog {
    std::vector<std::string> steps;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
};

class FakeDialog : public PointRunDialog {
public:
    explicit FakeDialog(RunLog& log) : log_(log) {}

    std::string outputName = "Piogge";
    std::string east = "2400000";
    std::string north = "5100000";
    bool answer = true;

    std::string OutputName() const override { return Step("OutputName", outputName); }
    std::string EastText() const override { return Step("EastText", east); }
    std::string NorthText() const override { return Step("NorthText", north); }
    void ShowMessage(const std::string& text) override
    {
        log_.steps.push_back("ShowMessage");
        log_.messages.push_back(text);
    }
    bool Ask(const std::string& text) override
    {
        log_.steps.push_back("Ask");
        log_.questions.push_back(text);
        return answer;
    }
    void ResetMapPointer() override { log_.steps.push_back("ResetMapPointer"); }
    void EnableMainWindow() override { log_.steps.push_back("EnableMainWindow"); }
    void CloseDialog() override { log_.steps.push_back("CloseDialog"); }

private:
    std::string Step(const char* name, const std::string& value) const
    {
        log_.steps.push_back(name);
        return value;
    }
    RunLog& log_;
};

class FakeOperations : public PointRunOperations {
public:
    explicit FakeOperations(RunLog& log) : log_(log) {}

    std::optional<Error> folderFailure, computeFailure, areaFailure, writeFailure;
    bool reportExists = false;
    bool safeName = true;
    std::vector<GaussBoagaPoint> computed;
    std::vector<float> written;  // the twelve numbers of the last write
    std::string writtenFolder, writtenName;

    std::string GetAppFolder() override
    {
        log_.steps.push_back("GetAppFolder");
        if (folderFailure)
            throw *folderFailure;
        return "/apps/quorvel/";
    }
    PointRain ComputePointRain(GaussBoagaPoint point) override
    {
        log_.steps.push_back("ComputePointRain");
        computed.push_back(point);
        if (computeFailure)
            throw *computeFailure;
        PointRain rain;
        rain.cell = {140, 181};
        rain.centre = {2400250, 5100250};
        rain.a2 = 0.375f;
        rain.a1 = 26.448189f;
        rain.cv = 0.3f;
        rain.quantiles = {24.5f, 33.25f, 39.0f, 45.5f, 53.75f, 60.0f, 66.5f};
        return rain;
    }
    GridArea ParameterGridArea() override
    {
        if (areaFailure)
            throw *areaFailure;
        return {2310000, 2425000, 5040000, 5170000};
    }
    bool IsSafeOutputName(const std::string&) override
    {
        log_.steps.push_back("IsSafeOutputName");
        return safeName;
    }
    bool ReportExists(const std::string&, const std::string&) override
    {
        log_.steps.push_back("ReportExists");
        return reportExists;
    }
    void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2,
                         float q2, float q5, float q10, float q20, float q50, float q100,
                         float q200, const std::string& appFolder,
                         const std::string& outputName) override
    {
        log_.steps.push_back("WriteRainReport");
        if (writeFailure)
            throw *writeFailure;
        written = {east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100, q200};
        writtenFolder = appFolder;
        writtenName = outputName;
    }

private:
    RunLog& log_;
};

class PointRunTest : public ::testing::TestWithParam<PointRunVariant> {
protected:
    RunLog log;
    FakeDialog dialog{log};
    FakeOperations operations{log};

    void Run(const std::string& separator = ".")
    {
        ProcessPoint(GetParam(), dialog, operations, separator);
    }
    bool Typed() const { return GetParam() == PointRunVariant::CoordinateEntry; }
    bool DialogGivenBack() const
    {
        for (const auto& step : log.steps)
            if (step == "CloseDialog" || step == "EnableMainWindow" || step == "ResetMapPointer")
                return true;
        return false;
    }
    std::string OnlyMessage() const
    {
        EXPECT_EQ(log.messages.size(), 1u);
        return log.messages.empty() ? std::string() : log.messages.front();
    }
};

INSTANTIATE_TEST_SUITE_P(BothDialogs, PointRunTest,
                         ::testing::Values(PointRunVariant::MapPoint,
                                           PointRunVariant::CoordinateEntry));

TEST_P(PointRunTest, RunsTheStepsInOrderAndGivesTheWindowBack)
{
    Run();
    EXPECT_THAT(log.steps,
                ElementsAre("OutputName", "GetAppFolder", "EastText", "NorthText",
                            "ComputePointRain", "IsSafeOutputName", "ReportExists",
                            "WriteRainReport", "ShowMessage", "ResetMapPointer",
                            "EnableMainWindow", "CloseDialog"));
    EXPECT_THAT(log.messages, ElementsAre("Eseguito!"));
    EXPECT_THAT(log.questions, IsEmpty());
}

TEST_P(PointRunTest, ReportGetsThePointTheCentreA2AndTheQuantilesInOrder)
{
    dialog.outputName = "  rain.xls ";
    Run();
    ASSERT_EQ(operations.computed.size(), 1u);
    EXPECT_EQ(operations.computed[0], (GaussBoagaPoint{2400000, 5100000}));
    EXPECT_THAT(operations.written,
                ElementsAre(2400000.0f, 5100000.0f, 2400250.0f, 5100250.0f, 0.375f, 24.5f, 33.25f,
                            39.0f, 45.5f, 53.75f, 60.0f, 66.5f));
    EXPECT_EQ(operations.writtenFolder, "/apps/quorvel/");
    EXPECT_EQ(operations.writtenName, "  rain.xls ");
}

TEST_P(PointRunTest, ConvertsWithTheLocaleDecimalSeparator)
{
    dialog.east = "2400000,5";
    dialog.north = "5100001,5";
    Run(",");
    ASSERT_EQ(operations.computed.size(), 1u);
    EXPECT_EQ(operations.computed[0], (GaussBoagaPoint{2400000.5f, 5100001.5f}));
    EXPECT_EQ(operations.written[0], 2400000.5f);
}

TEST_P(PointRunTest, ExistingReportIsReplacedOnlyWhenTheUserSaysSo)
{
    operations.reportExists = true;
    dialog.outputName = "Piogge";
    dialog.answer = false;
    Run();
    EXPECT_THAT(log.questions, ElementsAre("Il file Piogge.xls esiste già. Sostituirlo?"));
    EXPECT_THAT(log.steps, Not(::testing::Contains("WriteRainReport")));
    EXPECT_THAT(log.messages, IsEmpty());
    EXPECT_FALSE(DialogGivenBack());

    log = {};
    dialog.answer = true;
    Run();
    EXPECT_THAT(log.questions, ElementsAre("Il file Piogge.xls esiste già. Sostituirlo?"));
    EXPECT_THAT(log.messages, ElementsAre("Eseguito!"));
    EXPECT_TRUE(DialogGivenBack());
}

TEST_P(PointRunTest, UnsafeOutputNameIsRefusedBeforeAnythingIsWritten)
{
    operations.safeName = false;
    dialog.outputName = "../Piogge";
    Run();
    EXPECT_THAT(OnlyMessage(), HasSubstr("Nome del file di output non valido: \"../Piogge\""));
    EXPECT_THAT(log.steps, Not(::testing::Contains("ReportExists")));
    EXPECT_THAT(log.steps, Not(::testing::Contains("WriteRainReport")));
    EXPECT_FALSE(DialogGivenBack());
}

// A blank name would make the hidden file ".xls".
TEST_P(PointRunTest, BlankOutputNameAsksForAName)
{
    for (const std::string name : {"", "   ", " \t "}) {
        log = {};
        dialog.outputName = name;
        Run();
        EXPECT_EQ(OnlyMessage(), "Inserire il nome del file di output.") << '"' << name << '"';
        EXPECT_THAT(log.steps, Not(::testing::Contains("WriteRainReport")));
        EXPECT_FALSE(DialogGivenBack());
    }
}

TEST_P(PointRunTest, MissingApplicationFolderIsToldInBothDialogs)
{
    operations.folderFailure = Error(ErrorKind::FileNotFound, "Quorvel");
    Run();
    EXPECT_THAT(OnlyMessage(), HasSubstr("cartella del programma"));
    EXPECT_THAT(OnlyMessage(), HasSubstr("Quorvel"));
    EXPECT_THAT(log.steps, ElementsAre("OutputName", "GetAppFolder", "ShowMessage"));
}

TEST_P(PointRunTest, ReportThatCannotBeWrittenNamesTheFile)
{
    operations.writeFailure =
        Error(ErrorKind::FileNotFound, "/apps/quorvel/programs/prototipo/pioggeTRNprot.xls");
    Run();
    EXPECT_THAT(OnlyMessage(), HasSubstr("Impossibile scrivere il report Piogge.xls"));
    EXPECT_THAT(OnlyMessage(), HasSubstr("pioggeTRNprot.xls"));
    EXPECT_FALSE(DialogGivenBack());
}

struct BadPoint {
    const char* name;
    std::string east, north;
    std::optional<Error> computeFailure;
    const char* mapPointMessage;  // a part of what the map-point dialog says
    const char* typedFault;       // the line under the coordinate message; empty: none
};

class BadPointTest : public ::testing::TestWithParam<BadPoint> {};

// The typed variant answers every bad point with the one coordinate message and,
// below it, what is wrong with the typed values; the map-point variant says
// what went wrong.
TEST_P(BadPointTest, EndsTheRunWithAMessageAndNothingWritten)
{
    const BadPoint& bad = GetParam();
    for (auto variant : {PointRunVariant::MapPoint, PointRunVariant::CoordinateEntry}) {
        SCOPED_TRACE(variant == PointRunVariant::MapPoint ? "map point" : "coordinate entry");
        RunLog log;
        FakeDialog dialog(log);
        FakeOperations operations(log);
        dialog.east = bad.east;
        dialog.north = bad.north;
        operations.computeFailure = bad.computeFailure;
        ProcessPoint(variant, dialog, operations, ".");
        ASSERT_EQ(log.messages.size(), 1u);
        if (variant == PointRunVariant::CoordinateEntry)
            EXPECT_EQ(log.messages[0], kCoordinateMessage + std::string(*bad.typedFault ? "\n" : "") +
                                           bad.typedFault);
        else
            EXPECT_THAT(log.messages[0], HasSubstr(bad.mapPointMessage));
        EXPECT_EQ(log.steps.back(), "ShowMessage");
        EXPECT_THAT(log.steps, Not(::testing::Contains("WriteRainReport")));
        EXPECT_THAT(log.steps, Not(::testing::Contains("EnableMainWindow")));
        EXPECT_THAT(log.steps, Not(::testing::Contains("CloseDialog")));
    }
}

const Error kOutside(ErrorKind::SubscriptOutOfRange, kA2Raster, {"cell outside the parameter grid", "cella fuori"});

INSTANTIATE_TEST_SUITE_P(
    Failures, BadPointTest,
    ::testing::Values(
        BadPoint{"EmptyEast", "", "5100000", std::nullopt, "Coordinate del punto non valide",
                 "Casella E vuota: inserire la coordinata Est in metri."},
        BadPoint{"BothBlank", " ", "", std::nullopt, "Coordinate del punto non valide",
                 "Casella E vuota: inserire la coordinata Est in metri.\n"
                 "Casella N vuota: inserire la coordinata Nord in metri."},
        BadPoint{"NorthNotANumber", "2400000", " 51OOOOO ", std::nullopt, "E 2400000, N  51OOOOO ",
                 "Casella N: \"51OOOOO\" non è un numero (solo cifre, con \",\" o \".\" per i decimali)."},
        BadPoint{"GroupedDigits", "2.400.000", "5100000", std::nullopt, "Coordinate del punto non valide",
                 "Casella E: \"2.400.000\" non è un numero (solo cifre, con \",\" o \".\" per i decimali)."},
        BadPoint{"WestOfTheGrid", "2300000", "5100000", kOutside,
                 "Il punto E 2300000, N 5100000 si trova fuori dalla griglia dei parametri grd/param_a2.ras",
                 "Casella E: 2300000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        BadPoint{"EastEdgeOfTheHeadersColumns", "2425000", "5100000", kOutside, "fuori dalla griglia",
                 "Casella E: 2425000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        BadPoint{"AtTheNorthEdge", "2400000", "5170000,0", kOutside, "fuori dalla griglia",
                 "Casella N: 5170000,0 è fuori dalla griglia (Nord da 5040000 a 5170000 m)."},
        BadPoint{"BeyondTheGridArithmetic", "-9000000000000", "5100000",
                 Error(ErrorKind::Overflow, {}, {"coordinate beyond the grid arithmetic", "coordinata oltre"}),
                 "si trova fuori dalla griglia dei parametri.",
                 "Casella E: -9000000000000 è fuori dalla griglia (Est da 2310000 a 2425000 m)."},
        BadPoint{"CellWithoutValidData", "2400000", "5100000",
                 Error(ErrorKind::NoValidData, {}, {"row 140, column 181: a1 = -9999", "riga 140, colonna 181: a1 = -9999"}),
                 "La cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non contiene dati validi.", ""},
        BadPoint{"QuantileBeyondSinglePrecision", "2400000", "5100000",
                 Error(ErrorKind::Overflow, {}, {"quantile beyond single precision", "quantile oltre la precisione singola"}),
                 "I parametri della cella (riga 140, colonna 181) del punto E 2400000, N 5100000 non danno "
                 "una pioggia valida.",
                 ""},
        BadPoint{"BeyondSinglePrecision", "2400000", "1" + std::string(40, '0'), std::nullopt,
                 "Coordinate del punto non valide",
                 "Casella N: 100000000000000000000000... è fuori dalla griglia (Nord da 5040000 a 5170000 m)."},
        BadPoint{"Exchanged", "5100000", "2400000.5", kOutside, "fuori dalla griglia",
                 "I valori di E e N sembrano scambiati: Est va da 2310000 a 2425000 m, Nord da 5040000 a "
                 "5170000 m."},
        BadPoint{"MissingGrid", "2400000", "5100000", Error(ErrorKind::FileNotFound, kA1Raster),
                 "File non trovato: grd/param_a1.ras", ""},
        BadPoint{"HeaderWithoutRows", "2400000", "5100000",
                 Error(ErrorKind::SubscriptOutOfRange, kCvHeader, {"grid without rows or columns", "griglia senza righe o colonne"}),
                 "Impossibile calcolare le piogge del punto.\nIndice non compreso "
                 "nell'intervallo: grd/param_cv.hdr\ngriglia senza righe o colonne",
                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Without the grid's area the typed point's faults that need none are still told.
TEST(TypedPointFaults, WithoutTheAreaTellOnlyWhatTheTextsShow)
{
    RunLog log;
    FakeDialog dialog(log);
    FakeOperations operations(log);
    operations.areaFailure = Error(ErrorKind::FileNotFound, kA2Header);
    operations.computeFailure = kOutside;
    dialog.east = "2300000";
    ProcessPoint(PointRunVariant::CoordinateEntry, dialog, operations, ".");
    dialog.east = "";
    ProcessPoint(PointRunVariant::CoordinateEntry, dialog, operations, ".");
    EXPECT_THAT(log.messages, ElementsAre(kCoordinateMessage, std::string(kCoordinateMessage) +
                                                                  "\nCasella E vuota: inserire la coordinata Est in metri."));
}

struct NumberCase {
    const char* name;
    std::string text;
    std::string separator;
    std::optional<float> value;  // none: the text is refused
    ErrorKind failure = ErrorKind::TypeMismatch;
};

class TextToSingleTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(TextToSingleTest, ReadsOnlyPlainDecimalNumbers)
{
    const NumberCase& c = GetParam();
    if (c.value) {
        EXPECT_EQ(TextToSingle(c.text, c.separator), *c.value);
        return;
    }
    try {
        const float value = TextToSingle(c.text, c.separator);
        ADD_FAILURE() << "read as " << value;
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), c.failure);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, TextToSingleTest,
    ::testing::Values(
        NumberCase{"WholeMetres", "2400000", ".", 2400000.0f},
        NumberCase{"ItalianFraction", "2400000,5", ",", 2400000.5f},
        NumberCase{"EnglishFraction", "5100001.5", ".", 5100001.5f},
        NumberCase{"RoundsToNearestSingle", "2385123.4", ".", 2385123.5f},
        NumberCase{"SurroundingBlanks", " \t2400000 ", ".", 2400000.0f},
        NumberCase{"Signs", "-12,25", ",", -12.25f},
        NumberCase{"PlusSign", "+7", ".", 7.0f},
        NumberCase{"NoDigitsBeforeSeparator", ",5", ",", 0.5f},
        NumberCase{"NoDigitsAfterSeparator", "5,", ",", 5.0f},
        NumberCase{"Empty", "", ",", std::nullopt},
        NumberCase{"Blanks", "   ", ",", std::nullopt},
        NumberCase{"SignAlone", "-", ".", std::nullopt},
        NumberCase{"SeparatorAlone", ",", ",", std::nullopt},
        NumberCase{"PointWhateverTheLocale", "2400000.5", ",", 2400000.5f},
        NumberCase{"CommaWhateverTheLocale", "2400000,5", ".", 2400000.5f},
        NumberCase{"LocalesOwnSeparator", "2400000\u066b5", "\u066b", 2400000.5f},
        NumberCase{"BothSeparators", "2.400,5", ",", std::nullopt},
        NumberCase{"ItalianGroupSeparators", "2.400.000", ",", std::nullopt},
        NumberCase{"EnglishGroupSeparators", "2,400,000", ".", std::nullopt},
        NumberCase{"TwoSeparators", "1.2.3", ".", std::nullopt},
        NumberCase{"InnerBlank", "2 400 000", ".", std::nullopt},
        NumberCase{"Exponent", "2.4e6", ".", std::nullopt},
        NumberCase{"Hexadecimal", "0x10", ".", std::nullopt},
        NumberCase{"Infinity", "inf", ".", std::nullopt},
        NumberCase{"NotANumber", "nan", ".", std::nullopt},
        NumberCase{"TwoSigns", "--5", ".", std::nullopt},
        NumberCase{"TrailingLetters", "2400000m", ".", std::nullopt},
        NumberCase{"BeyondSinglePrecision", "1" + std::string(40, '0'), ".", std::nullopt,
                   ErrorKind::Overflow}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
