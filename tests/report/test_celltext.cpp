// The text a cell shows, as the column fitting estimates it.

#include <gtest/gtest.h>

#include "report/CellText.h"

namespace quorvel::celltext {
namespace {

TEST(FormatNumber, ShowsWhatASpreadsheetShows)
{
    const std::vector<std::tuple<double, std::u16string, std::u16string>> cases = {
        {static_cast<double>(26.448189f), u"General", u"26.44818878"},
        {2400250, u"General", u"2400250"},
        {-0.5, u"GENERAL", u"-0.5"},
        {1.5e15, u"General", u"1.5E+15"},
        {2400250, u"#,##0", u"2,400,250"},
        {-1234567.891, u"#,##0.00", u"-1,234,567.89"},
        {30.1, u"0.00", u"30.10"},
        {30.1, u"0.0 \"mm\"", u"30.1 mm"},
        {30.1, u"0.0\"~\";-0.0", u"30.1~"},
        {30.1, u"0.0\\~;-0.0", u"30.1~"},
        {30.1, u"[Red]0.0;[Blue]-0.0", u"30.1"},
        {0.125, u"0.0%", u"12.5%"},
        {12345, u"0.00E+00", u"1.23E+04"},
        {45000, u"dd/mm/yyyy", u"dd/mm/yyyy"},
        {7, u"@", u"7"},
    };
    for (const auto& [value, format, shown] : cases) {
        EXPECT_TRUE(FormatNumber(value, format) == shown) << value << " " << std::string(format.begin(), format.end());
    }
    EXPECT_TRUE(BuiltinFormat(3) == u"#,##0");
    EXPECT_TRUE(BuiltinFormat(0) == u"General");
    EXPECT_TRUE(BuiltinFormat(300) == u"General");
}

TEST(TextWidth, DigitsAreTheUnitAndLettersDiffer)
{
    EXPECT_DOUBLE_EQ(TextWidth(u"2400250"), 7.0);
    EXPECT_DOUBLE_EQ(TextWidth(u""), 0.0);
    EXPECT_LT(TextWidth(u"iiii"), TextWidth(u"nnnn"));
    EXPECT_LT(TextWidth(u"nnnn"), TextWidth(u"mmww"));
    // A minus sign is narrower than a digit, a capital wider.
    EXPECT_LT(TextWidth(u"-1"), TextWidth(u"11"));
    EXPECT_LT(TextWidth(u".|"), TextWidth(u"1"));
    EXPECT_GT(TextWidth(u"A1"), TextWidth(u"11"));
    EXPECT_GT(TextWidth(u"\u6C34"), 1.5);
}

}  // namespace
}  // namespace quorvel::celltext
