#pragma once

#include <cmath>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "batch/Csv.h"
#include "rain/Grid.h"
#include "tests/rain/GridFixture.h"

namespace quorvel::test {

// Cells whose parameters are not numbers, and one whose a1 is too large for
// its quantiles to fit in single precision.
inline constexpr int kNanA1Row = 10, kNanA1Column = 10;
inline constexpr int kNanA2Row = 10, kNanA2Column = 11;
inline constexpr int kHugeA1Row = 10, kHugeA1Column = 12;

// The test grids with those cells.
class AppFolder : public GridsFolder {
protected:
    void SetUp() override
    {
        GridsFolder::SetUp();
        Cell(a1, kNanA1Row, kNanA1Column) = NAN;
        Cell(a2, kNanA2Row, kNanA2Column) = NAN;
        Cell(a1, kHugeA1Row, kHugeA1Column) = 3e38f;
        WriteGrids();
    }
};

// The text the batch writes for the value.
inline std::string Text(float value)
{
    std::string text;
    AppendSingle(text, value);
    return text;
}

using Records = std::vector<std::vector<std::string>>;

// The records of a CSV file as the batch reads them; numbered, each starts
// with its line number.
inline Records ReadCsv(const std::string& path, char sep = ',', bool numbered = false,
                       std::size_t bufferSize = std::size_t(1) << 20)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    batch::CsvReader reader(fd, path, bufferSize);
    batch::CsvRecord record;
    Records records;
    while (reader.Next(sep, record)) {
        records.emplace_back(record.fields.begin(), record.fields.end());
        if (numbered)
            records.back().insert(records.back().begin(), std::to_string(record.line));
    }
    ::close(fd);
    return records;
}

}  // namespace quorvel::test
