#pragma once

#include <string>
#include <vector>

// The first sheet of a report as a spreadsheet program shows it, for a
// preview drawn without one.
namespace quorvel {

struct PreviewCell {
    int row = 0;  // from 0, within the used range
    int column = 0;
    std::u16string text;  // as the cell's number format shows it
    bool number = false;  // numbers stand to the right
    bool bold = false;
};

struct PreviewRange {
    int rowFirst = 0, rowLast = 0, columnFirst = 0, columnLast = 0;
};

struct SheetPreview {
    int rows = 0;  // the used range, from A1
    int columns = 0;
    std::vector<PreviewCell> cells;
    std::vector<double> columnWidths;  // one per column, in widths of the digit "0"
    std::vector<PreviewRange> merged;  // within the used range
};

// The preview of the report workbook at path: the cells' values (a formula's
// stored result), number formats, bold fonts, merged ranges and column widths
// of its first sheet. A file that is not such a workbook is Error(BadFileFormat)
// naming path.
SheetPreview ReadSheetPreview(const std::string& path);

}  // namespace quorvel
