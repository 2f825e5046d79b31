#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <optional>

#include <httplib.h>

#include "crs/Crs.h"

#include "server/DataFolder.h"
#include "server/Json.h"
#include "server/Limits.h"
#include "server/Router.h"

namespace quorvel::server {

// The largest points file POST /api/v1/batch takes.
inline constexpr std::size_t kMaxBatchBytes = std::size_t(10) << 20;

// An answer other than success, thrown by a handler and sent by Answer.
struct ApiRefusal {
    ApiFailure failure;
};

// Runs a handler's work; a refusal, an Error of the data folder or any other
// failure becomes the JSON error answer. Files in it are named relative to
// folder (absolute, ending with "/"), and no other failure says more than
// that the server failed.
void Answer(httplib::Response& response, const std::function<void()>& work, std::string_view folder = {});

// 503 with Retry-After: the work cannot be taken now, and may be shortly.
ApiFailure Busy(ErrorDetail message, int retryAfter = 1);
void SendFailure(httplib::Response& response, const ApiFailure& failure);

// The body as it is. httplib would compress a text or JSON body for a client
// that takes brotli at brotli's slowest setting, which costs more than the
// answer itself (milliseconds for a point, minutes for a large batch); behind
// nginx, nginx compresses.
void Send(httplib::Response& response, std::string body, const char* type);
void Send(httplib::Response& response, std::shared_ptr<const std::string> body, const char* type);

// 413: a body over kMaxBatchBytes.
ApiFailure TooLarge();

// A coordinate of the query, read as quorvel-batch reads its numbers.
// Throws ApiRefusal (400) when missing or not a number.
float CoordinateParameter(const httplib::Request& request, const char* name);

// The point a query names, in Gauss-Boaga: east and north in metres, or, with
// crs=EPSG:n (or wgs84, utm32, utm33), east and north (lon and lat) in that
// system, converted with EPSG:1660.
struct QueryPoint {
    GaussBoagaPoint point;
    std::optional<ReferenceSystem> convertedFrom;  // set when not Gauss-Boaga
    bool nearCellEdge = false;  // converted, and within the conversion's accuracy of a cell edge
    // The point as exact as it is known, which finds its cell: a converted
    // point's double-precision conversion, otherwise point itself.
    double east = 0, north = 0;
};
// Throws ApiRefusal (400) for an unknown system or a missing or bad coordinate.
QueryPoint PointParameters(const httplib::Request& request);

// A report's name as the download's: valid UTF-8, at least one character
// that is not a blank, and nothing ReportNameFault finds (the desktop's rules).
bool IsAcceptableReportName(std::string_view name);

// /api/v1/rain, report, batch, comuni, health and openapi.json.
// Batches wait their turn as limits say.
void AddApiRoutes(Router& router, DataFolder& data, const ServiceLimits& limits = {});

}  // namespace quorvel::server
