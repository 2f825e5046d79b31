#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/Api.h"

namespace quorvel::server {
namespace {

// The point of a query of /api/v1/rain and /api/v1/report, in each system.
TEST(QueryPoint, CrsConvertsThePointOrRefusesTheQuery)
{
    const SystemPoint gb{2400250, 5100250};
    const SystemPoint wgs = FromGaussBoaga(ReferenceSystem::Wgs84, gb);
    const SystemPoint utm = FromGaussBoaga(ReferenceSystem::Utm33, gb);
    const auto text = [](double v) {
        char out[32];
        return std::string(out, std::to_chars(out, out + sizeof out, v, std::chars_format::fixed, 10).ptr);
    };
    struct Row {
        std::vector<std::pair<std::string, std::string>> query;
        int status;  // 0: answered
        double east, north;
        const char* from;
    };
    const std::vector<Row> rows = {
        {{{"east", "2400250"}, {"north", "5100250"}}, 0, 2400250, 5100250, ""},
        {{{"east", "2400250"}, {"north", "5100250"}, {"crs", "EPSG:3004"}}, 0, 2400250, 5100250, ""},
        {{{"east", text(wgs.x)}, {"north", text(wgs.y)}, {"crs", "EPSG:4326"}}, 0, gb.x, gb.y, "EPSG:4326"},
        {{{"lon", text(wgs.x)}, {"lat", text(wgs.y)}, {"crs", "wgs84"}}, 0, gb.x, gb.y, "EPSG:4326"},
        {{{"east", text(utm.x)}, {"north", text(utm.y)}, {"crs", "utm33"}}, 0, gb.x, gb.y, "EPSG:6708"},
        {{{"east", "1"}, {"north", "2"}, {"crs", "EPSG:32633"}}, 400, 0, 0, ""},
        {{{"lat", "45 61"}, {"lon", "13"}, {"crs", "EPSG:4326"}}, 400, 0, 0, ""},
        {{{"east", text(utm.x)}, {"crs", "EPSG:6708"}}, 400, 0, 0, ""},
    };
    for (const Row& row : rows) {
        httplib::Request request;
        for (const auto& [name, value] : row.query)
            request.params.emplace(name, value);
        try {
            const QueryPoint query = PointParameters(request);
            EXPECT_EQ(row.status, 0);
            EXPECT_LT(std::hypot(query.point.x - row.east, query.point.y - row.north), 0.5);
            EXPECT_EQ(query.convertedFrom ? "EPSG:" + std::to_string(EpsgCode(*query.convertedFrom)) : "", row.from);
        } catch (const ApiRefusal& refusal) {
            EXPECT_EQ(refusal.failure.status, row.status) << refusal.failure.message.english;
        }
    }
}

}  // namespace
}  // namespace quorvel::server
