#include "rain/PointRun.h"

#include <optional>

#include "rain/Error.h"
#include "rain/NumberText.h"
#include "rain/OutputName.h"
#include "rain/TypedPoint.h"

namespace quorvel {

namespace {

bool IsGridRaster(const std::string& file)
{
    return file == kA2Raster || file == kA1Raster || file == kCvRaster;
}

std::string PointText(const std::string& east, const std::string& north)
{
    return "E " + east + ", N " + north;
}

// The point's cell, or none when the point lies so far out that its cell
// cannot even be counted: ComputePointRain finds it the same way first.
std::optional<GridCell> CellOf(GaussBoagaPoint point)
{
    try {
        const GridCell cell = CellForPoint(point.x, point.y);
        CellCentre(cell);
        return cell;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::string CellText(GridCell cell)
{
    return "(riga " + std::to_string(cell.row) + ", colonna " + std::to_string(cell.column) + ")";
}

// What the map-point dialog says when the computation fails: the point that
// lies outside the grid, the cell without data or whose parameters give no
// rainfall, or the grid file that could not be used.
std::string ComputeFailureMessage(const Error& error, GaussBoagaPoint point, const std::string& east,
                                  const std::string& north)
{
    const std::optional<GridCell> cell = CellOf(point);
    if (!cell)
        return "Il punto " + PointText(east, north) + " si trova fuori dalla griglia dei parametri.";
    if (error.kind() == ErrorKind::SubscriptOutOfRange && IsGridRaster(error.file()))
        return "Il punto " + PointText(east, north) +
               " si trova fuori dalla griglia dei parametri " + error.file() + ".";
    if (error.kind() == ErrorKind::NoValidData)
        return "La cella " + CellText(*cell) + " del punto " + PointText(east, north) + " non contiene dati validi.";
    if (error.kind() == ErrorKind::NoValidRainfall)
        return "I parametri della cella " + CellText(*cell) + " del punto " + PointText(east, north) +
               " non danno una pioggia valida.\n" + error.italianDetail();
    return "Impossibile calcolare le piogge del punto.\n" + ItalianMessage(error);
}

bool IsBlank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

// The coordinate message, and under it what is wrong with the typed point
// when that can be told.
std::string CoordinateMessage(const std::string& east, const std::string& north,
                              const std::string& decimalSeparator, PointRunOperations& operations)
{
    std::optional<GridArea> area;
    try {
        area = operations.ParameterGridArea();
    } catch (const Error&) {
        // The area only explains the fault: without it the message names
        // empty boxes and texts that are no numbers, and nothing more.
    }
    const std::string faults = TypedPointFaults(east, north, decimalSeparator, area);
    return faults.empty() ? std::string(kCoordinateMessage) : kCoordinateMessage + ("\n" + faults);
}

}  // namespace

float TextToSingle(const std::string& text, const std::string& decimalSeparator)
{
    float value = 0;
    switch (ReadCoordinate(text, decimalSeparator, value)) {
    case NumberStatus::Ok:
        return value;
    case NumberStatus::OutOfRange:
        throw Error(ErrorKind::Overflow, {},
                    {"number beyond single precision: \"" + text + "\"",
                     "numero oltre la precisione singola: «" + text + "»"});
    case NumberStatus::Empty:
    case NumberStatus::NotANumber:
        break;
    }
    throw Error(ErrorKind::TypeMismatch, {}, {"not a number: \"" + text + "\"", "non è un numero: «" + text + "»"});
}

void ProcessPoint(PointRunVariant variant, PointRunDialog& dialog, PointRunOperations& operations,
                  const std::string& decimalSeparator)
{
    const bool typed = variant == PointRunVariant::CoordinateEntry;

    const std::string outputName = WithoutReportExtension(dialog.OutputName());

    std::string appFolder;
    try {
        appFolder = operations.GetAppFolder();
    } catch (const Error& error) {
        dialog.ShowMessage("Impossibile trovare la cartella del programma.\n" +
                           ItalianMessage(error));
        return;
    }

    const std::string eastText = dialog.EastText();
    const std::string northText = dialog.NorthText();
    GaussBoagaPoint point;
    try {
        point.x = TextToSingle(eastText, decimalSeparator);
        point.y = TextToSingle(northText, decimalSeparator);
    } catch (const Error&) {
        dialog.ShowMessage(typed ? CoordinateMessage(eastText, northText, decimalSeparator, operations)
                                 : "Coordinate del punto non valide: " +
                                       PointText(eastText, northText) + ".");
        return;
    }

    // A converted point is placed by all its digits; the single-precision
    // point is what the report and the window keep.
    const std::optional<ConvertedPoint> converted = dialog.Converted();
    PointRain rain;
    try {
        rain = operations.ComputeCellRain(converted ? CellForPoint(converted->east, converted->north)
                                                    : CellForPoint(point.x, point.y));
    } catch (const Error& error) {
        dialog.ShowMessage(typed ? CoordinateMessage(eastText, northText, decimalSeparator, operations)
                                 : ComputeFailureMessage(error, point, eastText, northText));
        return;
    }

    // A blank name would make a hidden ".xls" that the user never finds.
    if (IsBlank(outputName)) {
        dialog.ShowMessage("Inserire il nome del file di output.");
        return;
    }
    // Reports go to folders that Windows machines share: a name Windows
    // refuses is refused here, with the reason.
    if (const auto fault = ReportNameFault(outputName)) {
        dialog.ShowMessage("Nome del file di output non valido: \"" + outputName + "\".\n" + fault->italian);
        return;
    }
    // The name becomes part of a path: it must not lead out of the output folder.
    if (!operations.IsSafeOutputName(outputName)) {
        dialog.ShowMessage("Nome del file di output non valido: \"" + outputName +
                           "\".\nIl nome non può contenere \"/\" o \"\\\" e non può essere "
                           "\".\" o \"..\".");
        return;
    }
    if (operations.ReportExists(appFolder, outputName) &&
        !dialog.Ask("Il file " + outputName + ".xls esiste già. Sostituirlo?"))
        return;

    // A report that cannot be written is no fault of the coordinates: both
    // dialogs say which file failed.
    const RainQuantiles& q = rain.quantiles;
    try {
        operations.WriteRainReport(point.x, point.y, rain.centre.x, rain.centre.y, rain.a2, q.q2,
                                   q.q5, q.q10, q.q20, q.q50, q.q100, q.q200, appFolder,
                                   outputName);
    } catch (const Error& error) {
        dialog.ShowMessage("Impossibile scrivere il report " + outputName + ".xls.\n" +
                           ItalianMessage(error));
        return;
    }

    PointRunResult result{point, rain, appFolder, outputName, converted};
    std::string registerWarning;
    try {
        operations.AppendToRegister(result);
    } catch (const Error& error) {
        registerWarning = "Il report " + outputName +
                          ".xls è stato scritto, ma il registro delle elaborazioni non è "
                          "stato aggiornato.\n" + ItalianMessage(error);
    }

    dialog.ShowMessage(kDoneMessage);
    if (!registerWarning.empty())
        dialog.ShowMessage(registerWarning);
    dialog.ResetMapPointer();
    dialog.EnableMainWindow();
    dialog.CloseDialog();
    dialog.RunCompleted(result);
}

}  // namespace quorvel
