#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "batch/Csv.h"
#include "rain/Error.h"
#include "rain/PointRun.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

using test::Records;

// The records of the text, each after its line number.
Records ParseText(const std::string& text, char sep, std::size_t bufferSize = std::size_t(1) << 20)
{
    const test::ScratchDir dir;
    test::WriteText(dir / "in.csv", text);
    return test::ReadCsv(dir / "in.csv", sep, true, bufferSize);
}

TEST(CsvReader, QuotedFieldsKeepSeparatorsAndQuotes)
{
    EXPECT_EQ(ParseText("id,note\n"
                        "\"a,b\",\"say \"\"hi\"\"\"\n"
                        "x,\"\"\n"
                        "  padded  ,  \" kept \"  \n"
                        "\"ab\"cd,x\n",
                        ','),
              (Records{{"1", "id", "note"},
                       {"2", "a,b", "say \"hi\""},
                       {"3", "x", ""},
                       {"4", "padded", " kept "},
                       {"5", "abcd", "x"}}));
}

TEST(CsvReader, LineEndingsBlankLinesAndByteOrderMark)
{
    for (const std::string text : {"\xEF\xBB\xBFid;East\r\n1;2,5\r\n\r\n;;\r\n2;3\r\n", "id;East\n1;2,5\n\n  \n2;3",
                                   "id;East\r1;2,5\r\r\r2;3\r"})
        EXPECT_EQ(ParseText(text, ';'), (Records{{"1", "id", "East"}, {"2", "1", "2,5"}, {"5", "2", "3"}})) << text;
    EXPECT_TRUE(ParseText("", ',').empty());
    EXPECT_TRUE(ParseText("\xEF\xBB\xBF\r\n\r\n", ',').empty());
}

TEST(CsvReader, RecordsStraddlingTheBufferReadAlike)
{
    std::string text = "id\tEast\tNorth\r\n";
    std::mt19937 random(3);
    for (int i = 0; i < 300; ++i) {
        text += i % 7 == 0 ? "\"id \"\"" + std::to_string(i) + "\"\"\tnext\"" : std::to_string(i);
        text += "\t" + std::to_string(random() % 100000) + "," + std::to_string(random() % 10);
        text += i % 5 == 0 ? "\r\n\r\n" : "\r\n";
    }
    const Records whole = ParseText(text, '\t');
    ASSERT_EQ(whole.size(), 301u);
    for (const std::size_t size : {16, 17, 31, 64})
        EXPECT_EQ(ParseText(text, '\t', size), whole) << size;
}

// Windows line ends in a file longer than the longest line: each record is
// taken as soon as its CR LF is seen, never the rest of the file held first.
TEST(CsvReader, WindowsFileLongerThanALineIsReadRecordByRecord)
{
    std::string text = "id,East,North\r\n";
    for (int i = 0; text.size() <= kMaxLineBytes * 2; ++i)
        text += std::to_string(i) + ",2400000,5100000\r\n";
    const Records records = ParseText(text, ',');
    ASSERT_EQ(records.size(), std::size_t(std::count(text.begin(), text.end(), '\n')));
    EXPECT_EQ(records.back()[0], std::to_string(records.size()));
}

// What ParseSingle says of the text, and the value it reads.
std::pair<NumberStatus, float> Single(const std::string& text, bool commaDecimal)
{
    float value = 0;
    const NumberStatus status = ParseSingle(text, commaDecimal, value);
    return {status, value};
}

// The batch reads coordinates as the coordinate dialog does; a tie goes to
// the even neighbour.
TEST(ParseSingle, ReadsAndRefusesAsTheDialogDoes)
{
    for (const std::string text : {"2400000", "2400000.3", "-12.5", "+7", ".5", "5.", "0.1",
                                   "2400000.125", "2400000.1250001", "5100000.75", "  42  ",
                                   "000123.4500", "340282356779733661637539395458142568447.9"}) {
        std::string comma = text;
        std::replace(comma.begin(), comma.end(), '.', ',');
        EXPECT_EQ(Single(comma, true), std::pair(NumberStatus::Ok, TextToSingle(text, "."))) << comma;
    }
    EXPECT_EQ(Single("2400000.125", false).second, 2400000.0f);
    EXPECT_EQ(Single("2400000.1250001", false).second, 2400000.25f);

    for (const std::string text : {"1e5", "inf", "nan", "-", "+", ".", "0x10", "12 34", "2.400.000",
                                   "1,5.2", "1.5,2", "--3", "+-3", "3m", "1 000"}) {
        EXPECT_EQ(Single(text, true).first, NumberStatus::NotANumber) << text;
        EXPECT_THROW(TextToSingle(text, "."), Error) << text;
    }
    EXPECT_EQ(Single("2,5", false).first, NumberStatus::NotANumber);
    EXPECT_EQ(Single("  ", true).first, NumberStatus::Empty);
    EXPECT_EQ(Single("1" + std::string(70, '0'), true).first, NumberStatus::OutOfRange);
}

TEST(AppendSingle, ShortestFixedTextReadsBackToTheSameBits)
{
    std::vector<float> values = {0.0f, -0.0f, 1.0f, 0.1f, 26.448189f, 2400250.0f, 5100000.5f,
                                 std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                                 std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min()};
    std::mt19937 random(11);
    while (values.size() < 20000) {
        const float value = std::bit_cast<float>(std::uint32_t(random()));
        if (std::isfinite(value))
            values.push_back(value);
    }
    for (const float value : values) {
        const std::string text = test::Text(value);
        float back = 1;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back, std::chars_format::fixed);
        ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
    }
    EXPECT_EQ(test::Text(2400250.0f) + " " + test::Text(26.448189f), "2400250 26.448189");
}

}  // namespace
}  // namespace quorvel::batch
