#pragma once

// Templates built to hurt the report writer, as small as each fault allows:
// for the tests, the benchmark's loads (bench/report/LoadTemplates.h) and the fuzzer's seeds.

#include <cstddef>

#include "BiffReader.h"

namespace quorvel::test {

// A compound file whose directory holds entries root -> 1 -> 2 ... -> count,
// each the right sibling of the one before, and no stream data.
Bytes ChainedDirectory(std::size_t count);

// A BIFF8 BOF record's data for a substream of this kind (0x0005 the
// globals, 0x0010 a worksheet).
Bytes Bof(std::uint16_t kind);

// A one-sheet workbook stream; extra records go into the sheet before its
// WINDOW2, extraGlobals before the globals' end. The sheet's first cell
// record is a NUMBER 999 at C6, the report's first cell.
Bytes SmallWorkbook(const Bytes& extra = {}, const Bytes& extraGlobals = {});

// A NUMBER record for the cell at row, column (0-based).
Bytes NumberRecord(std::uint16_t row, std::uint16_t column, double value, std::uint16_t xf = 15);

}  // namespace quorvel::test
