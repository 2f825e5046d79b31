#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rain/Error.h"
#include "rain/PointRain.h"

namespace quorvel::server {

// JSON texts of the API. Numbers are written here rather than by a JSON
// library, so that every single-precision value reads exactly as quorvel-batch
// writes it.

// The text as a JSON string; bytes that are not UTF-8 become U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);
// The shortest text that reads back to the same double.
void AppendDouble(std::string& out, double value);

// The name of the enumerator: "NoValidData".
const char* KindName(ErrorKind kind);

// A failure as the API answers it.
struct ApiFailure {
    int status = 500;
    ErrorKind kind = ErrorKind::BadFileFormat;
    ErrorDetail message;
    int retryAfter = 0;  // seconds, for a refusal that a later try may not meet
};

// {"error":{"kind":...,"en":...,"it":...}}
std::string FailureJson(const ApiFailure& failure);

// A failure of the data folder itself, whatever was asked: 500.
ApiFailure DataFailure(const Error& error);

// A failure of one point's computation: a coordinate beyond any plausible
// range or a cell outside the grids is 404, a cell without valid data (or
// whose parameters give no valid rainfall) 422, anything else broken data.
ApiFailure PointFailure(const Error& error, double east, double north);

std::string RainJson(GaussBoagaPoint point, const PointRain& rain, bool sample);

struct Municipality {
    std::string name;      // UTF-8
    std::string province;  // UTF-8
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    int polygon = -1;  // its index in the shapefile
};
std::string MunicipalitiesJson(const std::vector<Municipality>& municipalities);

struct Health {
    std::string folder;  // the data folder's own name: where it lies is no client's business
    std::string version;
    bool sample = false;
    // SHA-256 in lowercase hex of the rasters, the template and the headers.
    std::string a2, a1, cv, reportTemplate, a2Header, a1Header, cvHeader;
    GridArea grid;  // where points may lie, for the page to tell a user who typed one elsewhere
    std::string overviews;  // "building" or "ready": the large rasters' overviews; empty when not told
};
std::string HealthJson(const Health& health);

}  // namespace quorvel::server
