// The Workbook stream editor on templates built record by record: the
// layouts Excel writes (row blocks indexed by INDEX and DBCELL, MULRK and
// MULBLANK runs, shared strings, formulas with string results) and the
// templates it must refuse.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "BiffReader.h"
#include "HostileTemplates.h"
#include "rain/Error.h"
#include "report/CellText.h"
#include "report/Report.h"
#include "report/Workbook.h"

namespace quorvel::test {
namespace {

using testing::AllOf;
using testing::HasSubstr;
using testing::Property;
using testing::Throws;

const std::array<ReportCell, 12> kCells =
    ReportCells(2400000, 5100000, 2400250, 5100250, 0.3f, 30, 40, 50, 60, 70, 80, 90);

Bytes Double(double value)
{
    Bytes out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

Bytes Bof(std::uint16_t version, std::uint16_t kind)
{
    return Le16({version, kind, 0x0DBB, 0x07CC, 0, 0, 6, 0});
}

struct Options {
    std::uint16_t version = 0x0600;
    bool encrypted = false;
    bool sharedOnTarget = false;
    bool colInfo = true;
};

// Two sheets in Excel's layout. The first has a MULBLANK over B6:G6, a text
// in C7, a string formula in F7, nothing at B10, a MULRK over B13:D13, an RK
// in H13 and a second row block; the second sheet is the active one.
Bytes ExcelStyleStream(const Options& options = {})
{
    BiffWriter w;
    w.Add(0x0809, Bof(options.version, 0x0005));
    if (options.encrypted) {
        w.Add(0x002F, Le16({1, 1}) + Bytes(48, 0));
    }
    w.Add(0x003D, Le16({0, 0, 0x4000, 0x2000, 0x38, 1, 0, 1, 0x258}));
    w.Add(0x0031, Le16({200, 0, 0x7FFF, 400, 0, 0, 0}) + Bytes{5, 0, 'A', 'r', 'i', 'a', 'l'});
    w.Add(0x041E, Le16({164, 8}) + Bytes{0, '#', ',', '#', '#', '0', '.', '0', '0'});  // XF 22's
    for (std::uint16_t xf = 0; xf < 24; ++xf) {
        w.Add(0x00E0, Le16({0, xf == 22 ? 164u : 0u, 0xFFF5, 0x20, 0, 0, 0, 0, 0, 0}));
    }
    w.Add(0x01C1, Le16({0x01C1, 0, 0x8D54, 1}));
    const size_t sheet1 = w.Add(0x0085, Le16({0, 0, 0}) + Bytes{2, 0, 'S', '1'});
    const size_t sheet2 = w.Add(0x0085, Le16({0, 0, 0}) + Bytes{2, 0, 'S', '2'});
    w.Add(0x00FC, Le16({3, 0, 3, 0}) + Le16({4}) + Bytes{0, 'a', 'b', 'c', 'd'} + Le16({2}) +
                      Bytes{0, 'x', 'y'} + Le16({13}) + Bytes{0, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'});
    w.Add(0x000A, {});

    w.Patch32(sheet1, 0, static_cast<std::uint32_t>(w.bytes.size()));
    w.Add(0x0809, Bof(options.version, 0x0010));
    w.Add(0x020B, Le16({0, 0, 5, 0, 41, 0, 0, 0, 0, 0, 0, 0}));  // offsets left stale
    w.Add(0x0225, Le16({1, 300}));  // rows 15 points high, not the font's height
    w.Add(0x0055, Le16({8}));
    if (options.colInfo) {
        w.Add(0x007D, Le16({0, 9, 0x0924, 15, 0, 0}));
    }
    w.Add(0x0200, Le16({5, 0, 41, 0, 0, 8, 0}));
    auto row = [&](std::uint16_t r, std::uint16_t first, std::uint16_t end) {
        w.Add(0x0208, Le16({r, first, end, 0xFF, 0, 0, 0x100, 15}));
    };
    row(5, 1, 7);
    row(6, 2, 6);
    row(12, 1, 8);
    row(14, 0, 1);
    w.Add(0x00BE, Le16({5, 1, 16, 17, 18, 19, 20, 21, 6}));
    w.Add(0x00FD, Le16({6, 2, 22}) + Le16({0, 0}));
    w.Add(0x0006, Le16({6, 5, 23}) + Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF} + Le16({0, 0, 0}) +
                      Le16({3}) + Bytes{0x1E, 1, 0});
    w.Add(0x0207, Le16({2}) + Bytes{0, 'o', 'k'});
    w.Add(0x00BD, Le16({12, 1, 16}) + Le16({0x0002, 0}) + Le16({17}) + Le16({0x0006, 0}) +
                      Le16({18}) + Le16({0x000A, 0}) + Le16({3}));
    if (options.sharedOnTarget) {
        w.Add(0x0006, Le16({12, 7, 19}) + Double(1) + Le16({8, 0, 0}) + Le16({5}) + Bytes{1, 12, 0, 7, 0});
        w.Add(0x04BC, Le16({12, 14}) + Bytes{7, 7, 0, 2} + Le16({3}) + Bytes{0x1E, 1, 0});
    } else {
        w.Add(0x027E, Le16({12, 7, 19}) + Le16({0x0002, 0}));
    }
    w.Add(0x00FD, Le16({14, 0, 15}) + Le16({2, 0}));
    w.Add(0x00D7, Le16({0, 0, 0, 0, 0, 0}));
    row(40, 0, 1);
    w.Add(0x0203, Le16({40, 0, 15}) + Double(7.5));
    w.Add(0x00D7, Le16({0, 0, 0}));
    w.Add(0x023E, Le16({0x06B6, 0, 0, 0x40, 0, 0, 0, 0, 0}));
    w.Add(0x001D, Bytes{3} + Le16({3, 2, 0, 1, 3, 3}) + Bytes{2, 2});
    // One merged range, D7:E7; the bytes after it are not a range, whatever they hold.
    w.Add(0x00E5, Le16({1, 6, 6, 3, 4}) + Le16({14, 14, 0, 1}));
    w.Add(0x000A, {});

    w.Patch32(sheet2, 0, static_cast<std::uint32_t>(w.bytes.size()));
    w.Add(0x0809, Bof(options.version, 0x0010));
    w.Add(0x020B, Le16({0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    w.Add(0x0055, Le16({8}));
    w.Add(0x0200, Le16({0, 0, 1, 0, 0, 1, 0}));
    row(0, 0, 1);
    w.Add(0x0006, Le16({0, 0, 15}) + Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF} + Le16({0, 0, 0}) +
                      Le16({3}) + Bytes{0x1E, 1, 0});
    w.Add(0x0207, Le16({3}) + Bytes{0, 'o', 'l', 'd'});
    w.Add(0x00D7, Le16({0, 0, 0}));
    w.Add(0x023E, Le16({0x06B6, 0, 0, 0x40, 0, 0, 0, 0, 0}));
    w.Add(0x000A, {});
    return w.bytes;
}

const BiffRecord* CellAt(const std::vector<BiffRecord>& records, int sheet, int row, int col)
{
    for (const BiffRecord& r : records) {
        const auto columns = CellColumns(r);
        if (columns && r.sheet == sheet && !r.nested && Get16(r.data, 0) == row && columns->first <= col &&
            col <= columns->second) {
            return &r;
        }
    }
    return nullptr;
}

// A column fits its widest shown text, in its format, plus padding: A the
// thirteen digits of A15 (whose "merge" lies past the MERGEDCELLS count); C
// 2,400,250 in C7's own format "#,##0.00".
TEST(WorkbookStream, ExcelLayoutGetsNumbersFittedColumnsAndConsistentOffsets)
{
    for (const bool colInfo : {true, false}) {
        SCOPED_TRACE(colInfo ? "the template's COLINFO split" : "COLINFO records made");
        const Bytes filled = FillWorkbookStream(ExcelStyleStream({.colInfo = colInfo}), kCells, "t.xls");
        EXPECT_EQ(OffsetProblems(filled), "");
        const auto records = ReadBiff(filled);

        // Each report cell is a NUMBER keeping its template format (XF 16 + col
        // in the MULBLANK and MULRK runs, 22 at C7, 23 at F7, 19 at H13).
        const std::map<std::pair<int, int>, int> xfs = {
            {{5, 2}, 17}, {{5, 5}, 20}, {{6, 2}, 22}, {{6, 5}, 23}, {{9, 1}, 15}, {{12, 1}, 16},
            {{12, 2}, 17}, {{12, 3}, 18}, {{12, 4}, 15}, {{12, 5}, 15}, {{12, 6}, 15}, {{12, 7}, 19}};
        for (const ReportCell& cell : kCells) {
            const BiffRecord* r = CellAt(records, 0, cell.row, cell.column);
            ASSERT_NE(r, nullptr) << cell.row << "," << cell.column;
            EXPECT_EQ(r->type, 0x0203);
            EXPECT_EQ(GetDouble(r->data, 6), cell.value);
            EXPECT_EQ(Get16(r->data, 4), (xfs.at({cell.row, cell.column})));
        }
        // What the runs held beside the report cells stays, with its formats.
        for (int col : {1, 3, 4, 6}) {
            const BiffRecord* r = CellAt(records, 0, 5, col);
            ASSERT_NE(r, nullptr);
            EXPECT_TRUE(r->type == 0x0201 || r->type == 0x00BE);
        }
        EXPECT_EQ(Get16(CellAt(records, 0, 5, 4)->data, 4 + 2 * (4 - 3)), 19);
        EXPECT_EQ(Get16(CellAt(records, 0, 5, 6)->data, 4), 21);
        EXPECT_EQ(CellAt(records, 0, 40, 0)->type, 0x0203);

        bool row9 = false;
        std::vector<std::pair<int, int>> columns;
        std::map<int, int> widths;
        for (const BiffRecord& r : records) {
            if (r.sheet == 0 && r.type == 0x0208 && Get16(r.data, 0) == 9) {
                row9 = true;
                // Column B alone, the sheet's default row height, and a flag that it is not the font's.
                EXPECT_EQ(Bytes(r.data.begin() + 2, r.data.begin() + 14), Le16({1, 2, 300, 0, 0, 0x0140}));
            }
            if (r.sheet == 0 && r.type == 0x007D) {
                EXPECT_EQ(r.data.size(), 12u);
                columns.emplace_back(Get16(r.data, 0), Get16(r.data, 2));
                widths[Get16(r.data, 0)] = Get16(r.data, 4);
            }
            EXPECT_NE(r.type, 0x0207) << "a cached string result survived";
            if (r.type == 0x0006) {
                EXPECT_EQ(GetDouble(r.data, 6), 1.0) << "=1 computed";
                EXPECT_TRUE(Get16(r.data, 14) & 1) << "and still recalculated on load";
            }
            if (r.type == 0x00FC) {
                EXPECT_EQ(Get32(r.data, 0), 2u) << "one reference to the SST went";
            }
            if (r.type == 0x01C1) {
                EXPECT_EQ(Get32(r.data, 4), 0u);
            }
            if (r.type == 0x003D) {
                EXPECT_EQ(Get16(r.data, 10) | Get16(r.data, 14) << 16, 1 << 16) << "the first tab active, one selected";
            }
            if (r.type == 0x023E) {
                EXPECT_EQ(Get16(r.data, 0), r.sheet == 0 ? 0x06B6 : 0x00B6) << "only the first sheet selected and shown";
            }
            if (r.type == 0x001D) {
                EXPECT_EQ(r.data, (Bytes{3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
            }
        }
        EXPECT_TRUE(row9) << "no ROW record for row 10";
        std::vector<std::pair<int, int>> oneEach = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}};
        if (colInfo) {
            oneEach.push_back({8, 9});
        }
        EXPECT_EQ(columns, oneEach);
        EXPECT_EQ(widths[0], std::lround((13 + 1.7) * 256));
        EXPECT_EQ(widths[2], std::lround((celltext::TextWidth(u"2,400,250.00") + 1.7) * 256));
    }
}

// A FORMULA record in A(row + 1) with these tokens and no cached result.
Bytes Formula(std::uint16_t row, const Bytes& tokens)
{
    return Le16({0x0006, static_cast<std::uint32_t>(22 + tokens.size()), row, 0, 15}) + Bytes(8, 0) +
           Le16({0, 0, 0, static_cast<std::uint32_t>(tokens.size())}) + tokens;
}

std::vector<BiffRecord>::const_iterator FormulaAt(const std::vector<BiffRecord>& records, std::uint16_t row)
{
    return std::find_if(records.begin(), records.end(),
                        [&](const BiffRecord& r) { return r.type == 0x0006 && Get16(r.data, 0) == row; });
}

// A text result is cached in the STRING record after its formula; an empty
// one, or one longer than a record holds, is cached as an empty text with no
// STRING record, for the spreadsheet program to compute on load.
TEST(WorkbookStream, TextResultsARecordCannotHoldAreLeftEmpty)
{
    auto concatenated = [](std::uint16_t row, int times) {  // A(row+1) & A(row+1) & ...
        const Bytes ref = Bytes{0x24} + Le16({row, 0});
        Bytes tokens = ref;
        for (int k = 1; k < times; ++k) {
            tokens = tokens + ref + Bytes{0x08};
        }
        return tokens;
    };
    const Bytes extra = Formula(20, Bytes{0x17, 255, 0} + Bytes(255, 'x')) + Formula(21, concatenated(20, 4)) +
                        Formula(22, concatenated(21, 9)) + Formula(23, Bytes{0x17, 0, 0}) +
                        Formula(24, Bytes{0x17, 2, 0, 'o', 'k'});
    const struct {
        std::uint16_t row;
        size_t length;  // of the cached text; 0: an empty text, no STRING record
    } cases[] = {{20, 255}, {21, 1020}, {22, 0}, {23, 0}, {24, 2}};
    const std::vector<BiffRecord> records = ReadBiff(FillWorkbookStream(SmallWorkbook(extra), kCells, "t.xls"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        const auto at = FormulaAt(records, c.row);
        ASSERT_TRUE(at != records.end() && at + 1 != records.end());
        EXPECT_EQ(at->data[6], c.length ? 0 : 3) << "the result's type";
        EXPECT_EQ(Get16(at->data, 12), 0xFFFF);
        EXPECT_EQ((at + 1)->type == 0x0207, c.length != 0) << "a STRING record after it";
        if (c.length) {
            EXPECT_EQ(Get16((at + 1)->data, 0), c.length);
        }
    }
    for (const BiffRecord& r : records) {
        EXPECT_LE(r.data.size(), 8224u) << r.type;
    }
}

// Each token has its own length, and the tokens after it are read from its
// end: a reference a deletion made invalid, of each of its four kinds, is
// #REF! and stays so when 1 is added; a text constant of two-byte characters
// joins the text after it.
TEST(WorkbookStream, FormulasAreReadTokenAfterToken)
{
    const Bytes plusOne = {0x1E, 1, 0, 0x03};
    const struct {
        std::uint16_t row;
        Bytes tokens;
        std::u16string text;  // empty: the result is #REF!
    } cases[] = {
        {30, Bytes{0x2A} + Le16({0, 0}) + plusOne, u""},
        {31, Bytes{0x2B} + Le16({0, 1, 0, 1}) + plusOne, u""},
        {32, Bytes{0x3C} + Le16({0, 0, 0}) + plusOne, u""},
        {33, Bytes{0x3D} + Le16({0, 0, 1, 0, 1}) + plusOne, u""},
        {34, Bytes{0x17, 2, 1} + Le16({0x03A9, 0x03C9}) + Bytes{0x17, 1, 0, 'b', 0x08}, u"\u03A9\u03C9b"},
    };
    Bytes extra;
    for (const auto& c : cases) {
        extra = extra + Formula(c.row, c.tokens);
    }
    const std::vector<BiffRecord> records = ReadBiff(FillWorkbookStream(SmallWorkbook(extra), kCells, "t.xls"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        const auto at = FormulaAt(records, c.row);
        ASSERT_TRUE(at != records.end() && at + 1 != records.end());
        if (c.text.empty()) {
            EXPECT_EQ(Bytes(at->data.begin() + 6, at->data.begin() + 14), (Bytes{2, 0, 0x17, 0, 0, 0, 0xFF, 0xFF}));
            continue;
        }
        EXPECT_EQ(at->data[6], 0) << "a text result";
        ASSERT_EQ((at + 1)->type, 0x0207);
        Bytes text = Le16({static_cast<std::uint32_t>(c.text.size())}) + Bytes{1};
        for (const char16_t ch : c.text) {
            text = text + Le16({ch});
        }
        EXPECT_EQ((at + 1)->data, text);
    }
}

// A ROW record the template keeps for a row without cells (a row given its
// own height) spans the report cell written into it, and keeps its height.
TEST(WorkbookStream, RowWithoutCellsKeepsItsHeightAndSpansTheReportCell)
{
    BiffWriter w;
    w.Add(0x0208, Le16({9, 0, 0, 420, 0, 0, 0x0140, 15}));
    const std::vector<BiffRecord> records = ReadBiff(FillWorkbookStream(SmallWorkbook(w.bytes), kCells, "t.xls"));
    const auto row = std::find_if(records.begin(), records.end(), [](const BiffRecord& r) {
        return r.type == 0x0208 && Get16(r.data, 0) == 9;
    });
    ASSERT_NE(row, records.end());
    EXPECT_EQ(row->data, Le16({9, 1, 2, 420, 0, 0, 0x0140, 15}));
}

// The stream with the first record of the type in the sheet cut to no data,
// the freed bytes kept as a record of their own so that nothing else moves.
Bytes CutInSheet(const Bytes& stream, int sheet, std::uint16_t type)
{
    const auto records = ReadBiff(stream);
    const auto record = std::find_if(records.begin(), records.end(), [&](const BiffRecord& r) {
        return r.sheet == sheet && !r.nested && r.type == type;
    });
    const Bytes header = Le16({0, 0x0000, std::uint32_t(records.at(record - records.begin()).data.size() - 4)});
    Bytes cut = stream;
    std::copy(header.begin(), header.end(), cut.begin() + record->offset + 2);
    return cut;
}

TEST(WorkbookStream, RefusesTemplatesItCannotHandle)
{
    const Bytes libreOffice = WorkbookStream(ReadFileBytes(QUORVEL_REPORT_FIXTURES "/libreoffice_template.xls"));
    const struct {
        const char* what;
        Bytes stream;
        const char* detail = "";
    } bad[] = {
        {"BIFF5", ExcelStyleStream({.version = 0x0500})},
        {"encrypted", ExcelStyleStream({.encrypted = true})},
        {"shared formula on H13", ExcelStyleStream({.sharedOnTarget = true})},
        {"not BIFF", Bytes(600, 0x41)},
        {"short ROW in the second sheet", CutInSheet(libreOffice, 1, 0x0208), "too short"},
        {"short LABELSST in the second sheet", CutInSheet(libreOffice, 1, 0x00FD), "too short"},
        {"short DIMENSIONS in the first sheet", CutInSheet(libreOffice, 0, 0x0200), "0x0200 at offset"},
        {"short FORMULA in the second sheet", CutInSheet(libreOffice, 1, 0x0006), "0x0006 at offset"},
    };
    for (const auto& c : bad) {
        EXPECT_THAT([&] { FillWorkbookStream(c.stream, kCells, "t.xls"); },
                    Throws<Error>(AllOf(Property(&Error::kind, ErrorKind::BadFileFormat),
                                        Property(&Error::file, "t.xls"), Property(&Error::detail, HasSubstr(c.detail)))))
            << c.what;
    }
}

// Cut anywhere, the stream is refused; with any byte spoilt, it is refused or
// filled, never a crash.
TEST(WorkbookStream, DamagedStreamsNeverCrash)
{
    const Bytes whole = ExcelStyleStream();
    for (size_t at = 0; at < whole.size(); ++at) {
        EXPECT_THROW(FillWorkbookStream({whole.data(), at}, kCells, "t.xls"), Error) << at;
        for (std::uint8_t value : {0x00, 0xFF, 0x20}) {
            Bytes corrupt = whole;
            corrupt[at] = value;
            try {
                EXPECT_FALSE(FillWorkbookStream(corrupt, kCells, "t.xls").empty());
            } catch (const Error& error) {
                EXPECT_EQ(error.kind(), ErrorKind::BadFileFormat);
            }
        }
    }
}

// Text, a container without a Workbook stream, and a good one cut short.
TEST(ReportFile, RefusesWhatIsNotAWholeWorkbookContainer)
{
    const Bytes good = MakeCompoundFile({{"Workbook", ExcelStyleStream()}});
    std::vector<Bytes> bad = {Bytes{'h', 'e', 'l', 'l', 'o'}, MakeCompoundFile({{"Book", ExcelStyleStream()}})};
    for (size_t size : {size_t{0}, size_t{511}, size_t{512}, good.size() / 2, good.size() - 1}) {
        bad.emplace_back(good.begin(), good.begin() + size);
    }
    for (const Bytes& file : bad) {
        EXPECT_THAT([&] { BuildReportFile(file, kCells, "t.xls"); },
                    Throws<Error>(Property(&Error::kind, ErrorKind::BadFileFormat)))
            << file.size();
    }
}

// Templates built to crash, crawl or hide the number: refused before libgsf
// reads them, or made into a report that shows the number.
TEST(ReportFile, HostileTemplatesAreRefusedOrShowTheNumber)
{
    Bytes loop = ChainedDirectory(3);
    const Bytes back = Le16({1, 0});  // entry 3's right sibling: entry 1
    std::copy(back.begin(), back.end(), loop.end() - 512 + 3 * 128 + 0x48);
    BiffWriter chart;
    chart.Add(0x0809, Bof(0x0600, 0x0020));
    chart.Add(0x000A, {});
    BiffWriter duplicateMulRk;
    duplicateMulRk.Add(0x00BD, Le16({5, 1, 15}) + Le16({0x0002, 0}) + Le16({15}) + Le16({0x0006, 0}) + Le16({15}) +
                                   Le16({0x000A, 0}) + Le16({3}));
    const struct {
        const char* name;
        Bytes file;
        const char* refusal;  // nullptr: a report is made
    } cases[] = {
        {"directory chain of 65", ChainedDirectory(65), "compound file directory deeper than 64 links"},
        {"directory of 4097 entries", ChainedDirectory(4096), "more than 4096 compound file directory entries"},
        {"directory in a loop", loop, "linked in a loop or outside the directory"},
        {"over 16 MiB", Bytes(kMaxTemplateSize + 1, 0), "larger than 16 MiB"},
        {"sheet in the globals", MakeCompoundFile({{"Workbook", SmallWorkbook({}, chart.bytes)}}),
         "a substream inside the workbook globals"},
        {"format that is not there", MakeCompoundFile({{"Workbook", SmallWorkbook(NumberRecord(30, 0, 1, 99))}}),
         "cell in row 31, column 1 with format 99; the workbook has 16"},
        {"C6 twice", MakeCompoundFile({{"Workbook", SmallWorkbook(NumberRecord(5, 2, 999))}}), nullptr},
        {"C6 in a MULRK after it", MakeCompoundFile({{"Workbook", SmallWorkbook(duplicateMulRk.bytes)}}), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.refusal) {
            EXPECT_THAT([&] { BuildReportFile(c.file, kCells, "t.xls"); },
                        Throws<Error>(AllOf(Property(&Error::kind, ErrorKind::BadFileFormat),
                                            Property(&Error::detail, HasSubstr(c.refusal)))));
            continue;
        }
        const std::vector<BiffRecord> records = ReadBiff(WorkbookStream(BuildReportFile(c.file, kCells, "t.xls")));
        std::vector<std::pair<int, int>> row5;  // first and last column of each cell record in row 6
        for (const BiffRecord& r : records) {
            if (const auto columns = CellColumns(r); columns && r.sheet == 0 && Get16(r.data, 0) == 5) {
                row5.push_back(*columns);
            }
        }
        const BiffRecord* c6 = CellAt(records, 0, 5, 2);
        ASSERT_NE(c6, nullptr);
        EXPECT_EQ(std::pair(c6->type, GetDouble(c6->data, 6)), (std::pair<std::uint16_t, double>(0x0203, 2400000)));
        EXPECT_EQ(std::count_if(row5.begin(), row5.end(), [](auto cols) { return cols.first <= 2 && 2 <= cols.second; }),
                  1);
        EXPECT_EQ(std::count_if(row5.begin(), row5.end(), [](auto cols) { return cols.first <= 3 && 3 <= cols.second; }),
                  std::string(c.name) == "C6 twice" ? 0 : 1);
    }
}

// A directory of exactly 4096 entries, its chain ending on the file's last
// sector, is within the bound: what refuses this one is its lack of a workbook.
TEST(ReportFile, DirectoryOfTheMostEntriesIsRead)
{
    Bytes full = ChainedDirectory(4095);
    std::fill_n(full.end() - 4096 * 128 + 128 + 0x48, 4, 0xFF);  // entry 1 has no sibling: the others hang loose
    EXPECT_THAT([&] { BuildReportFile(full, kCells, "t.xls"); },
                Throws<Error>(Property(&Error::detail, HasSubstr("no Workbook stream"))));
}

// A template file over 16 MiB is refused by its size, before it is read.
TEST(ReportFile, OversizeTemplateFileIsRefusedUnread)
{
    const std::string path = testing::TempDir() + "oversize.xls";
    { std::ofstream(path) << "x"; }
    std::filesystem::resize_file(path, std::uintmax_t(1) << 30);  // read, it would take seconds
    EXPECT_THAT([&] { ReadReportTemplate(path); },
                Throws<Error>(AllOf(Property(&Error::file, path), Property(&Error::detail, "larger than 16 MiB"))));
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace quorvel::test
