#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "batch/Csv.h"
#include "rain/Error.h"
#include "rain/PointRun.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

struct Parsed {
    std::vector<std::vector<std::string>> records;
    std::vector<std::uint64_t> lines;
};

Parsed ParseText(const std::string& text, char sep, std::size_t bufferSize = 1 << 20)
{
    const test::ScratchDir dir;
    test::WriteText(dir / "in.csv", text);
    const int fd = ::open((dir / "in.csv").c_str(), O_RDONLY);
    CsvReader reader(fd, "in.csv", bufferSize);
    CsvRecord record;
    Parsed parsed;
    while (reader.Next(sep, record)) {
        parsed.records.emplace_back(record.fields.begin(), record.fields.end());
        parsed.lines.push_back(record.line);
    }
    ::close(fd);
    return parsed;
}

using Records = std::vector<std::vector<std::string>>;

TEST(CsvReader, QuotedFieldsKeepSeparatorsAndQuotes)
{
    const Parsed parsed = ParseText(
        "id,note\n"
        "\"a,b\",\"say \"\"hi\"\"\"\n"
        "x,\"\"\n"
        "  padded  ,  \" kept \"  \n"
        "\"ab\"cd,x\n",
        ',');
    EXPECT_EQ(parsed.records, (Records{{"id", "note"},
                                       {"a,b", "say \"hi\""},
                                       {"x", ""},
                                       {"padded", " kept "},
                                       {"abcd", "x"}}));
    EXPECT_EQ(parsed.lines, (std::vector<std::uint64_t>{1, 2, 3, 4, 5}));
}

TEST(CsvReader, LineEndingsBlankLinesAndByteOrderMark)
{
    const Records expected{{"id", "East"}, {"1", "2,5"}, {"2", "3"}};
    for (const std::string& text : {std::string("\xEF\xBB\xBFid;East\r\n1;2,5\r\n\r\n;;\r\n2;3\r\n"),
                                    std::string("id;East\n1;2,5\n\n  \n2;3"),
                                    std::string("id;East\r1;2,5\r\r\r2;3\r")}) {
        const Parsed parsed = ParseText(text, ';');
        EXPECT_EQ(parsed.records, expected) << text;
        EXPECT_EQ(parsed.lines, (std::vector<std::uint64_t>{1, 2, 5})) << text;
    }
    EXPECT_TRUE(ParseText("", ',').records.empty());
    EXPECT_TRUE(ParseText("\xEF\xBB\xBF\r\n\r\n", ',').records.empty());
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
    const Parsed whole = ParseText(text, '\t');
    ASSERT_EQ(whole.records.size(), 301u);
    for (const std::size_t size : {16, 17, 31, 64}) {
        const Parsed pieces = ParseText(text, '\t', size);
        EXPECT_EQ(pieces.records, whole.records) << size;
        EXPECT_EQ(pieces.lines, whole.lines) << size;
    }
}

// The batch reads coordinates as the coordinate dialog does.
TEST(ParseSingle, ReadsAndRefusesAsTheDialogDoes)
{
    for (const std::string text : {"2400000", "2400000.3", "-12.5", "+7", ".5", "5.", "0.1",
                                   "2400000.125", "2400000.1250001", "5100000.75", "  42  ",
                                   "000123.4500", "340282356779733661637539395458142568447.9"}) {
        float value = 0;
        ASSERT_EQ(ParseSingle(text, false, value), NumberStatus::Ok) << text;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(TextToSingle(text, ".")))
            << text;
        std::string comma = text;
        std::replace(comma.begin(), comma.end(), '.', ',');
        float commaValue = 0;
        ASSERT_EQ(ParseSingle(comma, true, commaValue), NumberStatus::Ok) << comma;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(commaValue), std::bit_cast<std::uint32_t>(value)) << comma;
    }
    float value = 0;
    ASSERT_EQ(ParseSingle("2400000.125", false, value), NumberStatus::Ok);
    EXPECT_EQ(value, 2400000.0f);  // a tie goes to the even neighbour
    ASSERT_EQ(ParseSingle("2400000.1250001", false, value), NumberStatus::Ok);
    EXPECT_EQ(value, 2400000.25f);

    for (const std::string text : {"1e5", "inf", "nan", "-", "+", ".", "0x10", "12 34", "2.400.000",
                                   "1,5.2", "1.5,2", "--3", "+-3", "3m", "1 000"}) {
        EXPECT_EQ(ParseSingle(text, true, value), NumberStatus::NotANumber) << text;
        EXPECT_THROW(TextToSingle(text, "."), Error) << text;
    }
    EXPECT_EQ(ParseSingle("2,5", false, value), NumberStatus::NotANumber);
    EXPECT_EQ(ParseSingle("  ", true, value), NumberStatus::Empty);
    EXPECT_EQ(ParseSingle("1" + std::string(70, '0'), true, value), NumberStatus::OutOfRange);
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
        std::string text;
        AppendSingle(text, value);
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        float back = 1;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
    }
    std::string text;
    AppendSingle(text, 2400250.0f);
    text += ' ';
    AppendSingle(text, 26.448189f);
    EXPECT_EQ(text, "2400250 26.448189");
}

TEST(AppendField, QuotesOnlyWhatNeedsIt)
{
    for (const auto& [text, field] : std::initializer_list<std::pair<std::string_view, std::string>>{
             {"P12", "P12"}, {"a;b", "a;b"}, {"a,b", "\"a,b\""}, {"5\" pipe", "\"5\"\" pipe\""},
             {"two\r\nlines", "\"two\r\nlines\""}, {" lead", "\" lead\""}, {"", ""}}) {
        std::string out;
        AppendField(out, text);
        EXPECT_EQ(out, field);
    }
}

}  // namespace
}  // namespace quorvel::batch
