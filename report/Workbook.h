#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel {

// One number to put into the first sheet; row and column count from 0.
struct ReportCell {
    std::uint16_t row = 0;
    std::uint16_t column = 0;
    double value = 0;
};

// The twelve cells of the report in writing order: C6 F6 C7 F7 hold the
// coordinates rounded to whole metres (halves to even), B10 and B13:H13 the
// single-precision values widened exactly. A coordinate outside the 32-bit
// integer range is Error(Overflow), a value that is not finite
// Error(FloatingPoint).
std::array<ReportCell, 12> ReportCells(float east, float north, float centreEast,
                                       float centreNorth, float a2, float q2, float q5,
                                       float q10, float q20, float q50, float q100, float q200);

// The BIFF8 Workbook stream of a template with the cells written as NUMBER
// records into its first sheet, the columns A to H of that sheet fitted, the
// sheet active with A1 selected, and the formulas of the worksheets computed
// where they can be (see Formula.h), all left to be recalculated on load.
// A stream it cannot handle is Error(BadFileFormat) naming file.
std::vector<std::uint8_t> FillWorkbookStream(std::span<const std::uint8_t> stream,
                                             std::span<const ReportCell> cells,
                                             const std::string& file);

// Whether the reports of a template (its Workbook stream) hold their
// formulas' results: not when it is saved with "precision as shown", under
// which a result follows the cells' formats as only the spreadsheet program
// applies them. A stream that is not a workbook is Error(BadFileFormat)
// naming file.
bool StoresFormulaResults(std::span<const std::uint8_t> stream, const std::string& file);

// A template larger than this is refused before it is read.
inline constexpr std::size_t kMaxTemplateSize = std::size_t(16) << 20;

// The whole compound file of the report: every stream and storage of the
// template copied with its class id, the Workbook stream filled in. A
// template over kMaxTemplateSize, or whose directory holds more than 4096
// entries or links deeper than 64, is refused before libgsf reads it.
std::vector<std::uint8_t> BuildReportFile(std::span<const std::uint8_t> templateFile,
                                          std::span<const ReportCell> cells,
                                          const std::string& file);

// The Workbook stream of a compound file, with the same checks.
std::vector<std::uint8_t> ReadWorkbookStream(std::span<const std::uint8_t> file, const std::string& name);

}  // namespace quorvel
