#pragma once

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rain/Grid.h"
#include "tests/rain/GridFixture.h"

namespace quorvel::test {

inline constexpr int kBatchColumns = 361;

// Coordinates inside cell (row, column), offset metres from its south-west corner.
inline float CellEast(int column, float offset = 250)
{
    return float(kGridWestEdge + (column - 1) * kGridCellSize) + offset;
}
inline float CellNorth(int row, float offset = 250)
{
    return float(kGridSouthEdge + (kGridRows - row) * kGridCellSize) + offset;
}

// Cells whose parameters are not numbers, and one whose a1 is too large for
// its quantiles to fit in single precision.
inline constexpr int kNanA1Row = 10, kNanA1Column = 10;
inline constexpr int kNanA2Row = 10, kNanA2Column = 11;
inline constexpr int kHugeA1Row = 10, kHugeA1Column = 12;

// Works inside a scratch application folder whose grids the test writes, as
// the program works inside its own folder.
class AppFolder : public ::testing::Test {
protected:
    ScratchWorkingDir folder;

    void SetUp() override
    {
        std::vector<float> a2, a1, cv;
        for (int r = 1; r <= kGridRows; ++r)
            for (int c = 1; c <= kBatchColumns; ++c) {
                a2.push_back(0.2f + float((r * 7 + c * 3) % 101) / 997.0f);
                a1.push_back(20.0f + float(c % 53) / 7.0f + float(r) / 13.0f);
                cv.push_back(c == 1 ? 0.0f : 0.15f + float((r * c) % 37) / 203.0f);
            }
        a1[std::size_t(kNanA1Row - 1) * kBatchColumns + (kNanA1Column - 1)] = NAN;
        a2[std::size_t(kNanA2Row - 1) * kBatchColumns + (kNanA2Column - 1)] = NAN;
        a1[std::size_t(kHugeA1Row - 1) * kBatchColumns + (kHugeA1Column - 1)] = 3e38f;
        WriteParameterGrid("a2", kBatchColumns, kGridRows, a2);
        WriteParameterGrid("a1", kBatchColumns, kGridRows, a1);
        WriteParameterGrid("cv", kBatchColumns, kGridRows, cv);
    }
};

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace quorvel::test
