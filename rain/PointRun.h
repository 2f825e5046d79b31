#pragma once

#include <array>
#include <optional>
#include <string>

#include "rain/PointRain.h"

namespace quorvel {

// The two dialogs run the same steps; they differ in how a failure is told.
enum class PointRunVariant {
    MapPoint,         // the point was picked on the map: every failure says its cause
    CoordinateEntry,  // the point was typed: a bad point gets the one coordinate message
};

inline constexpr const char* kDoneMessage = "Eseguito!";
inline constexpr const char* kCoordinateMessage =
    "Inserire valori delle coordinate valide per la regione Tervania";

// A typed point converted from another reference system, before it is
// rounded to single precision: its cell is found from these digits.
struct ConvertedPoint {
    double east = 0;
    double north = 0;
    bool nearCellEdge = false;  // within the conversion's accuracy of its cell's edge
};

// What the register keeps of a run besides its point and rainfall, taken once
// as the run is registered, so that whatever tells of the run later (its PDF
// sheet) tells the same, whatever the files have become by then.
struct RunRecord {
    std::string time;     // local, ISO 8601 with the UTC offset
    std::string version;  // the program's
    std::string user;     // login name
    // SHA-256 of the a2, a1 and cv rasters and of the template, then of the
    // a2, a1 and cv headers, in lowercase hex.
    std::array<std::string, 4> digests;
    std::array<std::string, 3> headerDigests;
    std::string data;  // "esempio" for the sample region's invented grids, otherwise empty
};

// What a successful run produced: the point as entered, its rainfall, and
// where its report went (the application folder and the output name).
struct PointRunResult {
    GaussBoagaPoint point;
    PointRain rain;
    std::string appFolder;
    std::string outputName;
    std::optional<ConvertedPoint> converted = std::nullopt;  // when typed in another system
    std::optional<RunRecord> record = std::nullopt;          // once the run is registered
};

// The dialog's side of a run. All texts are UTF-8.
class PointRunDialog {
public:
    virtual ~PointRunDialog() = default;
    virtual std::string OutputName() const = 0;
    virtual std::string EastText() const = 0;
    virtual std::string NorthText() const = 0;
    // The point the texts stand for, when they are a conversion's rounding.
    virtual std::optional<ConvertedPoint> Converted() const { return std::nullopt; }
    // A message with an OK button only; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
    // A question with "Sì" and "No"; true for "Sì".
    virtual bool Ask(const std::string& text) = 0;
    // The main window's map gets the arrow pointer back.
    virtual void ResetMapPointer() = 0;
    virtual void EnableMainWindow() = 0;
    virtual void CloseDialog() = 0;
    // The run succeeded and the dialog is closed: the result goes to the main window.
    virtual void RunCompleted(const PointRunResult& result) = 0;
};

// The operations of the rest of the program that a run calls. The window
// layer passes the real ones; the run itself depends on neither the report
// writer nor any window.
class PointRunOperations {
public:
    virtual ~PointRunOperations() = default;
    // The application folder, found by the program's own executable.
    virtual std::string GetAppFolder() = 0;
    virtual PointRain ComputeCellRain(GridCell cell) = 0;
    // The ground the parameter grids cover, to tell the user where points may lie.
    virtual GridArea ParameterGridArea() = 0;
    virtual bool IsSafeOutputName(const std::string& outputName) = 0;
    virtual bool ReportExists(const std::string& appFolder, const std::string& outputName) = 0;
    virtual void WriteRainReport(float east, float north, float centreEast, float centreNorth,
                                 float a2, float q2, float q5, float q10, float q20, float q50,
                                 float q100, float q200, const std::string& appFolder,
                                 const std::string& outputName) = 0;
    // Records a run whose report has been written: its record first, kept in
    // result even when the register then cannot be written. Throws Error.
    virtual void AppendToRegister(PointRunResult& result) = 0;
};

// A coordinate typed or shown as text, to single precision, read as
// ReadCoordinate reads it: with the user's locale's decimal separator, or with
// "," or ".". Throws
// Error(TypeMismatch) for empty or other text, Error(Overflow) beyond the
// single-precision range.
float TextToSingle(const std::string& text, const std::string& decimalSeparator);

// The run behind the "Elaborazione" button: output name, application folder,
// point, rainfall, report, "Eseguito!", then the map pointer, the main window
// and the dialog are given back. A failure ends the run with a message, leaves
// the dialog open with its entries and writes nothing; a typed point that
// fails gets the coordinate message with what is wrong with it below; an existing report is
// replaced only when the user says so. A trailing ".xls" of the name is dropped,
// since the report gets it anyway; a name Windows refuses (\ / : * ? " < > |,
// a control character, a device name, a last dot or space) is refused.
void ProcessPoint(PointRunVariant variant, PointRunDialog& dialog, PointRunOperations& operations,
                  const std::string& decimalSeparator);

}  // namespace quorvel
