#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvel {

// One row of a report's duration table: the duration in hours (column A of
// the table, under a heading that begins with "Durata") and the heights its
// next seven columns hold for T = 2...200 years. A cell without a numeric
// value (text, an error, a formula left to the spreadsheet) is empty.
struct ReportDurationRow {
    int row = 0;  // from 0
    int column = 0;  // the duration's column
    double hours = 0;
    std::array<std::optional<double>, 7> heights;
};

// The duration table of the first sheet of the report file (a whole compound
// file, as BuildReportFile makes it); none when the sheet has no heading
// "Durata...". A file that is not a workbook is Error(BadFileFormat) naming file.
std::vector<ReportDurationRow> ReportDurationTable(std::span<const std::uint8_t> reportFile,
                                                   const std::string& file);

// "B17": a cell's name, row and column from 0.
std::string CellName(int row, int column);

}  // namespace quorvel
