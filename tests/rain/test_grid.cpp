#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <ucontext.h>

#include "rain/Error.h"
#include "rain/Grid.h"
#include "rain/PendingFile.h"
#include "tests/rain/GridFixture.h"

namespace quorvel {
namespace {

using namespace test;

// Borders belong to the cell east and north of them; rows count down from the north.
TEST(CellForPoint, BordersWorkedPointAndCentres)
{
    const std::tuple<float, float, GridCell> cases[] = {
        {2310000, 5100000, {140, 1}},   {2310500, 5100000, {140, 2}},   {2309999, 5100000, {140, 0}},
        {2400000, 5040000, {260, 181}}, {2400000, 5040500, {259, 181}}, {2400000, 5169999, {1, 181}},
        {2400000, 5170000, {0, 181}},   {2400000, 5039999, {261, 181}},  // floor, not truncation
    };
    for (const auto& [x, y, cell] : cases)
        EXPECT_EQ(CellForPoint(x, y), cell) << x << ", " << y;
    EXPECT_EQ(CellCentre({140, 181}), (GaussBoagaPoint{2400250, 5100250}));
    EXPECT_EQ(CellCentre({260, 1}), (GaussBoagaPoint{2310250, 5040250}));
}

TEST(CellForPoint, ImplausibleCoordinatesOverflow)
{
    for (const auto& [x, y] : {std::pair{3.0e38f, 5100000.0f}, {2400000.0f, -3.0e38f}, {NAN, 5100000.0f}})
        EXPECT_EQ(FailureOf([&] { CellForPoint(x, y); }).kind(), ErrorKind::Overflow) << x << ", " << y;
    EXPECT_EQ(FailureOf([] { CellCentre({-2000000000, 1}); }).kind(), ErrorKind::Overflow);
}

// Every 32-bit cell number is reached, the extreme ones included: a point
// there is a cell that no grid holds. Only a point beyond them overflows.
TEST(CellForPoint, ExtremeCellsOfTheArithmetic)
{
    constexpr std::int32_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kHigh = std::numeric_limits<std::int32_t>::max();
    auto east = [](double column) { return kGridWestEdge + (column - 1) * kGridCellSize; };
    auto north = [](double row) { return kGridSouthEdge + (kGridRows - row) * kGridCellSize; };
    const std::tuple<double, double, std::optional<GridCell>> cases[] = {
        {east(kLow), 5100000, GridCell{140, kLow}},
        {east(kHigh), 5100000, GridCell{140, kHigh}},
        {2400000, north(kLow), GridCell{kLow, 181}},
        {2400000, north(kHigh), GridCell{kHigh, 181}},
        {east(kLow) - 1, 5100000, std::nullopt},
        {east(kHigh) + kGridCellSize, 5100000, std::nullopt},
        {2400000, north(kLow) + kGridCellSize, std::nullopt},
        {2400000, north(kHigh) - 1, std::nullopt},
    };
    for (const auto& [x, y, cell] : cases) {
        if (cell) {
            EXPECT_EQ(CellForPoint(x, y), *cell) << x << ", " << y;
        } else {
            EXPECT_EQ(FailureOf([&] { CellForPoint(x, y); }).kind(), ErrorKind::Overflow) << x << ", " << y;
        }
    }
}

class GridFiles : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string raster = dir / "grd/g.ras";
    std::string header = dir / "grd/g.hdr";
};

TEST_F(GridFiles, HeaderVariantsThatRead)
{
    std::vector<float> values(361 * 3);
    values.back() = 3361.0f;
    WriteFloats(raster, values);
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
    WriteText(header, "ncols   32767\r\nnrows   1\r\n\r\n");  // the widest header, a single row
    WriteFloats(raster, std::vector<float>(32767, 7.0f));
    EXPECT_EQ(ReadGridCell(raster, header, 1, 32767), 7.0f);
}

TEST_F(GridFiles, HeaderVariantsThatFail)
{
    WriteFloats(raster, std::vector<float>(16));
    const std::pair<std::string, ErrorKind> cases[] = {
        {"ncols   4\r\nnrows   4\r\n", ErrorKind::InputPastEndOfFile},
        {"ncols   4\r\nnrows   4", ErrorKind::InputPastEndOfFile},
        {"", ErrorKind::InputPastEndOfFile},
        {"ncols   four\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   4\r\nnrows   \r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   4.0\r\nnrows   4\r\n\r\n", ErrorKind::TypeMismatch},
        {"ncols   40000\r\nnrows   4\r\n\r\n", ErrorKind::Overflow},
        {"ncols   4\r\nnrows   -40000\r\n\r\n", ErrorKind::Overflow},
        {"ncols   4\r\nnrows   0\r\n\r\n", ErrorKind::SubscriptOutOfRange},
        {"ncols   -3\r\nnrows   4\r\n\r\n", ErrorKind::SubscriptOutOfRange},
        // The lines are checked in order: a bad first line before a short file, an overflow before a bad second line.
        {"ncols   x", ErrorKind::TypeMismatch},
        {"ncols   99999\r\nnrows   y\r\n\r\n", ErrorKind::Overflow},
        // Bounded reading: a line over 4 KiB, a header over 64 KiB.
        {"ncols" + std::string(4092, ' ') + "4\r\nnrows   4\r\n\r\n", ErrorKind::BadFileFormat},
        {"ncols   4\r\nnrows   4\r\n\r\n" + std::string(64 * 1024, '\n'), ErrorKind::BadFileFormat},
        {"ncols   4\r\nnrows   4\r\n" + std::string(4097, 'x'), ErrorKind::BadFileFormat},
    };
    for (const auto& [text, kind] : cases) {
        WriteText(header, text);
        const Error e = FailureOf([&] { ReadGridCell(raster, header, 1, 1); });
        EXPECT_EQ(std::pair(e.kind(), e.file()), std::pair(kind, header)) << text;
    }
    EXPECT_EQ(FailureOf([&] { ReadGridCell(raster, header, 1, 1); }).detail(), "line 3 is longer than 4 KiB");
}

// The files are checked before the cell, and each failure names the file at
// fault. A raster of another length than rows x columns x 4 bytes means the
// header is wrong: every value would be read from the wrong place.
TEST_F(GridFiles, FailuresNameTheFileAtFault)
{
    constexpr int kBytes = 4 * 3 * 4;
    const struct {
        bool header;
        int rasterBytes;  // negative: no raster
        GridCell cell;
        ErrorKind kind;
    } cases[] = {
        {false, kBytes, {1, 1}, ErrorKind::FileNotFound},
        {true, -1, {0, 1}, ErrorKind::FileNotFound},
        {true, kBytes - 4, {0, 1}, ErrorKind::InputPastEndOfFile},
        {true, kBytes + 4, {1, 1}, ErrorKind::BadFileFormat},
        {true, kBytes, {0, 1}, ErrorKind::SubscriptOutOfRange},
        {true, kBytes, {1, 0}, ErrorKind::SubscriptOutOfRange},
        {true, kBytes, {4, 1}, ErrorKind::SubscriptOutOfRange},
        {true, kBytes, {1, 5}, ErrorKind::SubscriptOutOfRange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rasterBytes << " bytes, cell " << c.cell.row << ", " << c.cell.column);
        std::filesystem::remove(header);
        std::filesystem::remove(raster);
        if (c.header)
            WriteText(header, GridHeader(4, 3));
        if (c.rasterBytes >= 0) {
            WriteFloats(raster, {});
            std::filesystem::resize_file(raster, std::uintmax_t(c.rasterBytes));
        }
        const Error e = FailureOf([&] { ReadGridCell(raster, header, c.cell.row, c.cell.column); });
        EXPECT_EQ(std::pair(e.kind(), e.file()), std::pair(c.kind, c.header ? raster : header));
        if (c.rasterBytes >= 0 && c.rasterBytes != kBytes) {
            EXPECT_NE(e.detail().find(header), std::string::npos) << e.detail();
            EXPECT_EQ(FailureOf([&] { ParameterGrid::Load(raster, header); }).kind(), c.kind);
        }
    }
    std::filesystem::remove(raster);
    std::filesystem::create_directory(raster);
    EXPECT_EQ(FailureOf([&] { ReadGridCell(raster, header, 1, 1); }).kind(), ErrorKind::PathAccess)
        << "a folder in place of the raster";
}

// A finished file frees its place: the handler's removal still reaches eight open files, all the registry holds.
TEST(PendingFile, FinishedFilesFreeTheirPlaceForTheHandlersRemoval)
{
    const ScratchDir dir;
    PendingFile(dir / "done.XXXXXX", "done").MoveTo(dir / "done", "done");
    std::vector<std::unique_ptr<PendingFile>> open;
    for (int i = 0; i < 8; ++i)
        open.push_back(std::make_unique<PendingFile>(dir / "open.XXXXXX", "open"));
    RemovePendingFiles();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// The handler's removal may come at any instruction of a file's creation (a
// signal, or another thread): it removes pending files only, never a name that
// a finished file left behind and that may now be someone else's file. The
// processor's trap flag stops the creation after every instruction to remove.
volatile sig_atomic_t stepping = 0;
volatile sig_atomic_t steps = 0;

extern "C" void RemoveAtThisInstruction(int, siginfo_t*, void* context)
{
#if defined(__x86_64__)
    if (!stepping) {
        static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EFL] &= ~0x100;
        return;
    }
#endif
    steps = steps + 1;
    RemovePendingFiles();
}

TEST(PendingFile, RemovalDuringACreationSparesNamesOfFinishedFiles)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "stepping instruction by instruction needs the x86-64 trap flag";
#else
    const ScratchDir dir;
    std::vector<std::string> finished;
    {
        std::vector<std::unique_ptr<PendingFile>> files;
        for (int i = 0; i < 8; ++i)
            files.push_back(std::make_unique<PendingFile>(dir / "f.XXXXXX", "f"));
        for (const auto& file : files) {
            finished.push_back(file->path());
            file->MoveTo(finished.back() + ".done", "f");
        }
    }
    for (const std::string& name : finished)
        std::ofstream(name) << "someone else's";
    struct sigaction action {}, previous {};
    action.sa_sigaction = RemoveAtThisInstruction;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGTRAP, &action, &previous), 0);
    stepping = 1;
    asm volatile("sub $128, %%rsp\n\tpushfq\n\torq $0x100, (%%rsp)\n\tpopfq\n\tadd $128, %%rsp" ::: "cc", "memory");
    { const PendingFile created(dir / "g.XXXXXX", "g"); }
    stepping = 0;
    asm volatile("nop" ::: "memory");
    ::sigaction(SIGTRAP, &previous, nullptr);
    EXPECT_GT(steps, 100);
    for (const std::string& name : finished)
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
#endif
}

}  // namespace
}  // namespace quorvel
