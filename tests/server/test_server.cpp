#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "map/GdalLayers.h"
#include "rain/Error.h"
#include "server/Api.h"
#include "server/CommandLine.h"
#include "server/Municipalities.h"

namespace quorvel::server {
namespace {

std::string Repeated(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(ReportName, OnlyNamesThatStayAFileOfTheirOwnInUtf8)
{
    const struct {
        std::string name;
        bool acceptable;
    } rows[] = {
        {"Piogge", true},
        {"Città di Berlìs", true},
        {"a..b", true},
        {" leading blank", true},
        {"\xF0\x9F\x8C\xA7", true},  // U+1F327, four bytes
        {"", false},
        {"  \t", false},
        {".", false},
        {"..", false},
        {"../x", false},
        {"a/b", false},
        {"a\\b", false},
        {"a\nb", false},
        {"del\x7F", false},
        {"\xFF\xFE", false},
        {"\xC0\xAF", false},          // overlong "/"
        {"\xE0\x80\xAF", false},      // overlong "/", three bytes
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
        {"cut \xC3", false},
        {"cut \xE2\x82", false},
        // Windows' own rules, as the desktop's dialogs apply them.
        {"CON", false},
        {"lpt9.old", false},
        {"console", true},
        {"a:b", false},
        {"a*b", false},
        {"a?b", false},
        {"a<b>", false},
        {"a|b", false},
        {"a\"b", false},
        {"trailing dot.", false},
        {"trailing blank ", false},
        {"next line \xC2\x85", false},             // U+0085, a C1 control
        {"\xE2\x80\xAEslx.exe", false},            // U+202E turns the text around
        // Each character that reorders text, alone, and ordinary ones near them.
        {"a\xD8\x9Cz", false},      // U+061C
        {"a\xE2\x80\x8Ez", false},  // U+200E
        {"a\xE2\x80\x8Fz", false},  // U+200F
        {"a\xE2\x80\xAAz", false},  // U+202A
        {"a\xE2\x80\xAEz", false},  // U+202E
        {"a\xE2\x81\xA6z", false},  // U+2066
        {"a\xE2\x81\xA9z", false},  // U+2069
        {"a\xE2\x80\xB0z", true},   // U+2030, per mille
        {"a\xE2\x81\xB0z", true},   // U+2070, superscript zero
        {std::string(120, 'a'), true},
        {std::string(121, 'a'), false},
        {Repeated("\xC3\xA0", 120), true},  // characters are counted, not bytes
        {Repeated("\xC3\xA0", 121), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsAcceptableReportName(row.name), row.acceptable) << row.name;
}

TEST(MunicipalityTable, FieldsByBytePositionAsTheWindowReadsThem)
{
    const std::string name40 = "Sant\x80 Ana" + std::string(31, ' ');
    const std::string bytes = "         1" + name40 + "       301        21     ALTRO\r\n" +
                              "        2 Corto" + std::string(35, ' ') + "      3020\r" +  // 60 characters
                              "3\tx\n";
    const auto rows = ParseMunicipalityTable(bytes, "t.dat");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].objectId, "1");
    EXPECT_EQ(rows[0].name, "Sant\u20AC Ana");
    EXPECT_EQ(rows[0].province, "21");
    EXPECT_EQ(rows[1].name, "Corto");
    EXPECT_EQ(rows[1].province, "");
    EXPECT_EQ(rows[2].objectId, "3\tx");

    std::string tooMany;
    for (int i = 0; i < 220; ++i)
        tooMany += "1\n";
    try {
        ParseMunicipalityTable(tooMany, "t.dat");
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), ErrorKind::SubscriptOutOfRange);
    }
}

// The extent sent for each municipality is the box the desktop's map zooms to.
TEST(Municipalities, ExtentsAreThePolygonsOfTheMap)
{
    const std::string folder = QUORVEL_APP_DIR "/";
    const auto municipalities = LoadMunicipalities(folder);
    std::ifstream table(folder + kMunicipalityTable, std::ios::binary);
    const auto rows = ParseMunicipalityTable({std::istreambuf_iterator<char>(table), {}}, "table");
    GdalShapefileLayer map;
    ASSERT_TRUE(map.OpenShapefile(folder + kMunicipalityShapes));
    ASSERT_EQ(municipalities.size(), 219u);
    ASSERT_EQ(rows.size(), 219u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MapExtents box = map.ShapeExtents(std::stoi(rows[i].objectId) - 1);
        EXPECT_EQ(municipalities[i].name, rows[i].name);
        EXPECT_EQ(municipalities[i].xMin, box.xMin) << i;
        EXPECT_EQ(municipalities[i].xMax, box.xMax) << i;
        EXPECT_EQ(municipalities[i].yMin, box.yMin) << i;
        EXPECT_EQ(municipalities[i].yMax, box.yMax) << i;
    }
}

TEST(ServerCommandLine, ListenAddressesAndRefusals)
{
    const struct {
        std::vector<const char*> args;
        std::string host;  // empty: refused
        int port;
    } rows[] = {
        {{"--folder", "d"}, "127.0.0.1", 8080},
        {{"--folder=d", "--listen", "0.0.0.0:80"}, "0.0.0.0", 80},
        {{"--cartella", "d", "--listen=[::1]:0"}, "::1", 0},
        {{"--folder", "d", "--listen", ":9000"}, "127.0.0.1", 9000},
        {{"--listen", "127.0.0.1:80"}, "", 0},
        {{"--folder", "d", "--listen", "127.0.0.1"}, "", 0},
        {{"--folder", "d", "--listen", "127.0.0.1:65536"}, "", 0},
        {{"--folder", "d", "--listen", "127.0.0.1:8o"}, "", 0},
        {{"--folder", "d", "--threads", "0"}, "", 0},
        {{"--folder"}, "", 0},
        {{"--folder", "d", "--port", "1"}, "", 0},
    };
    for (const auto& row : rows) {
        std::vector<const char*> argv = {"quorvel-server"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const std::string text = testing::PrintToString(row.args);
        if (row.host.empty()) {
            EXPECT_THROW(ParseServerCommandLine(int(argv.size()), argv.data(), "web"), UsageError) << text;
            continue;
        }
        const ServerCommandLine line = ParseServerCommandLine(int(argv.size()), argv.data(), "web");
        EXPECT_EQ(line.options.host, row.host) << text;
        EXPECT_EQ(line.options.port, row.port) << text;
        EXPECT_EQ(line.options.webDir, "web") << text;
    }
}

}  // namespace
}  // namespace quorvel::server
