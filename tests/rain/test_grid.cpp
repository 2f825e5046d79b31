#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "rain/Error.h"
#include "rain/Grid.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

using test::GridHeader;
using test::NumberedCells;
using test::ScratchDir;
using test::WriteFloats;
using test::WriteText;

TEST(CellForPoint, BordersBelongToTheCellEastAndNorthOfThem)
{
    EXPECT_EQ(CellForPoint(2310000, 5100000).column, 1);
    EXPECT_EQ(CellForPoint(2310500, 5100000).column, 2);
    EXPECT_EQ(CellForPoint(2309999, 5100000).column, 0);
    EXPECT_EQ(CellForPoint(2400000, 5040000).row, 260);
    EXPECT_EQ(CellForPoint(2400000, 5040500).row, 259);
    EXPECT_EQ(CellForPoint(2400000, 5169999).row, 1);
    EXPECT_EQ(CellForPoint(2400000, 5170000).row, 0);
    EXPECT_EQ(CellForPoint(2400000, 5039999).row, 261) << "floor, not truncation";
}

TEST(CellForPoint, WorkedPointAndCentres)
{
    EXPECT_EQ(CellForPoint(2400000, 5100000), (GridCell{140, 181}));
    EXPECT_EQ(CellCentre({140, 181}), (GaussBoagaPoint{2400250, 5100250}));
    EXPECT_EQ(CellCentre({260, 1}), (GaussBoagaPoint{2310250, 5040250}));
}

TEST(CellForPoint, ImplausibleCoordinatesOverflow)
{
    for (const auto& [x, y] : {std::pair{3.0e38f, 5100000.0f}, {2400000.0f, -3.0e38f}, {NAN, 5100000.0f}}) {
        try {
            CellForPoint(x, y);
            ADD_FAILURE() << "no failure for " << x << ", " << y;
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Overflow);
        }
    }
    try {
        CellCentre({-2000000000, 1});
        ADD_FAILURE() << "no overflow in the centre";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Overflow);
    }
}

class GridFiles : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string raster = dir / "grd/g.ras";
    std::string header = dir / "grd/g.hdr";

    void Write(int columns, int rows) { WriteFloats(raster, NumberedCells(columns, rows)); }

    ErrorKind FailureOf(std::int32_t row, std::int32_t column, std::string* file = nullptr)
    {
        try {
            ReadGridCell(raster, header, row, column);
        } catch (const Error& e) {
            if (file)
                *file = e.file();
            return e.kind();
        }
        ADD_FAILURE() << "no failure reading " << row << ", " << column;
        return ErrorKind::FileNotFound;
    }
};

TEST_F(GridFiles, ReadsTheCellAtItsOffset)
{
    WriteText(header, GridHeader(7, 5));
    Write(7, 5);
    EXPECT_EQ(ReadGridCell(raster, header, 1, 1), 1001.0f);
    EXPECT_EQ(ReadGridCell(raster, header, 5, 7), 5007.0f);
    EXPECT_EQ(ReadGridCell(raster, header, 3, 2), 3002.0f);
}

TEST_F(GridFiles, ValuesAreReturnedAsStored)
{
    WriteText(header, GridHeader(2, 1));
    WriteFloats(raster, {-9999.0f, NAN});
    EXPECT_EQ(ReadGridCell(raster, header, 1, 1), -9999.0f) << "no missing-data marker";
    EXPECT_TRUE(std::isnan(ReadGridCell(raster, header, 1, 2)));
}

TEST_F(GridFiles, HeaderVariantsThatRead)
{
    Write(361, 3);
    for (const std::string& text : std::initializer_list<std::string>{
             "ncols" + std::string(4088, ' ') + "361\r\nnrows 3\r\nx\r\n",  // a line of 4 KiB
             "ncols   361\r\nnrows 3\r\nx\r\n",        // spaces before the number
             "ncols361   \r\nnrows3\r\n\r\n",         // trailing spaces, empty third line
             "ncols   361\nnrows   3\nanything\n",   // LF alone
             "ncols   361\r\nnrows   3\r\nlast",     // last line ends at the end of the file
             "abcde+361\r\nXXXXX3\r\n\r\n",          // any label, a sign
         }) {
        WriteText(header, text);
        EXPECT_EQ(ReadGridCell(raster, header, 3, 361), 3361.0f) << text;
    }
}

TEST_F(GridFiles, HeaderVariantsThatFail)
{
    Write(4, 4);
    const std::pair<std::string, ErrorKind> cases[] = {
        {"ncols   4\r\nnrows   4\r\n", ErrorKind::InputPastEndOfFile},
        {"ncols   4\r\nnrows   4", ErrorKind::InputPastEndOfFile},
        {"", ErrorKind::InputPastEndOfFile},
        {"ncols   four\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   4\r\nnrows   \r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   4.0\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   1,000\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   40000\r\nnrows   4\r\n\r\n", ErrorKind::Overflow},
        {"ncols   4\r\nnrows   -40000\r\n\r\n", ErrorKind::Overflow},
        {"ncols   4\r\nnrows   0\r\n\r\n", ErrorKind::SubscriptOutOfRange},
        {"ncols   -3\r\nnrows   4\r\n\r\n", ErrorKind::SubscriptOutOfRange},
        // Bounded reading: a line over 4 KiB, a header over 64 KiB.
        {"ncols" + std::string(4092, ' ') + "4\r\nnrows   4\r\n\r\n", ErrorKind::BadFileFormat},
        {"ncols   4\r\nnrows   4\r\n" + std::string(4097, 'x'), ErrorKind::BadFileFormat},
        {"ncols   4\r\nnrows   4\r\n\r\n" + std::string(64 * 1024, '\n'), ErrorKind::BadFileFormat},
    };
    for (const auto& [text, kind] : cases) {
        WriteText(header, text);
        std::string file;
        EXPECT_EQ(FailureOf(1, 1, &file), kind) << text;
        EXPECT_EQ(file, header) << text;
    }
}

TEST_F(GridFiles, HeaderLinesAreCheckedInOrder)
{
    // A bad first line fails before the file is found to be short.
    WriteText(header, "ncols   x");
    EXPECT_EQ(FailureOf(1, 1), ErrorKind::TypeMismatch);
    // An overflowing first line fails before a non-numeric second one.
    WriteText(header, "ncols   99999\r\nnrows   y\r\n\r\n");
    EXPECT_EQ(FailureOf(1, 1), ErrorKind::Overflow);
}

TEST_F(GridFiles, MissingAndShortFiles)
{
    std::string file;
    EXPECT_EQ(FailureOf(1, 1, &file), ErrorKind::FileNotFound);
    EXPECT_EQ(file, header);

    WriteText(header, GridHeader(4, 4));
    EXPECT_EQ(FailureOf(1, 1, &file), ErrorKind::FileNotFound);
    EXPECT_EQ(file, raster);

    WriteFloats(raster, std::vector<float>(15, 1.0f));
    EXPECT_EQ(FailureOf(1, 1, &file), ErrorKind::InputPastEndOfFile) << "one value short, even for the first cell";
    EXPECT_EQ(file, raster);

    std::filesystem::remove(raster);
    std::filesystem::create_directory(raster);
    EXPECT_EQ(FailureOf(1, 1), ErrorKind::PathAccess) << "a folder in place of the raster";
}

// A raster of another length than rows x columns x 4 bytes means the header
// is wrong: every value would be read from the wrong place.
TEST_F(GridFiles, RasterOfAnotherLengthFailsNamingBothFiles)
{
    WriteText(header, GridHeader(360, 2));
    const std::pair<std::size_t, ErrorKind> cases[] = {
        {361 * 2 * 4, ErrorKind::BadFileFormat},    // a 361-column raster under a 360-column header
        {360 * 2 * 4 + 1, ErrorKind::BadFileFormat},
        {360 * 2 * 4 - 4, ErrorKind::InputPastEndOfFile},
    };
    for (const auto& [bytes, kind] : cases) {
        WriteFloats(raster, {});
        std::filesystem::resize_file(raster, bytes);
        for (const auto& read : {std::function<void()>([&] { ReadGridCell(raster, header, 1, 1); }),
                                 std::function<void()>([&] { ParameterGrid::Load(raster, header); })}) {
            try {
                read();
                ADD_FAILURE() << bytes << " bytes read";
            } catch (const Error& e) {
                EXPECT_EQ(e.kind(), kind) << bytes;
                EXPECT_EQ(e.file(), raster);
                EXPECT_NE(e.detail().find(header), std::string::npos) << e.detail();
            }
        }
    }
}

TEST_F(GridFiles, CellOutsideFailsOnlyAfterValidFiles)
{
    WriteText(header, GridHeader(4, 3));
    EXPECT_EQ(FailureOf(0, 1), ErrorKind::FileNotFound) << "the missing raster is found first";
    WriteFloats(raster, std::vector<float>(11, 1.0f));
    EXPECT_EQ(FailureOf(0, 1), ErrorKind::InputPastEndOfFile) << "the short raster is found first";
    Write(4, 3);
    for (const auto& [row, column] : {std::pair{0, 1}, {1, 0}, {4, 1}, {1, 5}, {-1, 2}, {2, -7}}) {
        std::string file;
        EXPECT_EQ(FailureOf(row, column, &file), ErrorKind::SubscriptOutOfRange) << row << ", " << column;
        EXPECT_EQ(file, raster);
    }
}

// The area told to the user is exactly where the cell lookup finds a cell of the grid.
TEST_F(GridFiles, AreaIsWhereCellsAreFound)
{
    WriteText(header, GridHeader(4, 3));
    const GridArea area = ReadGridArea(header);
    EXPECT_EQ(area.west, 2310000);
    EXPECT_EQ(area.east, 2312000);
    EXPECT_EQ(area.south, 5168500);
    EXPECT_EQ(area.north, 5170000);
    const auto inside = [](float x, float y) {
        const GridCell cell = CellForPoint(x, y);
        return cell.row >= 1 && cell.row <= 3 && cell.column >= 1 && cell.column <= 4;
    };
    EXPECT_TRUE(inside(float(area.west), float(area.south)));
    EXPECT_TRUE(inside(float(area.east) - 0.25f, float(area.north) - 0.5f));
    EXPECT_FALSE(inside(float(area.east), 5169000));
    EXPECT_FALSE(inside(2311000, float(area.north)));
    EXPECT_FALSE(inside(float(area.west) - 0.25f, 5169000));
    EXPECT_FALSE(inside(2311000, float(area.south) - 0.5f));
}

TEST_F(GridFiles, WholeGridAgreesWithSingleReads)
{
    WriteText(header, GridHeader(9, 6));
    Write(9, 6);
    const ParameterGrid grid = ParameterGrid::Load(raster, header);
    EXPECT_EQ(grid.rowCount(), 6);
    EXPECT_EQ(grid.columnCount(), 9);
    for (int r = 1; r <= 6; ++r)
        for (int c = 1; c <= 9; ++c)
            EXPECT_EQ(grid.At({r, c}), ReadGridCell(raster, header, r, c));
    EXPECT_FALSE(grid.Contains({7, 1}));
    EXPECT_THROW(grid.At({0, 3}), Error);
}

}  // namespace
}  // namespace quorvel
