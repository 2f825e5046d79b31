#pragma once

#include <optional>
#include <string>
#include <vector>

#include <httplib.h>

#include "rain/Durations.h"
#include "rain/PointRain.h"
#include "rain/Storm.h"
#include "server/DataFolder.h"
#include "server/Router.h"

namespace quorvel::server {

// The durations a request asks for with durate=, each within the folder's law.
struct DurationQuery {
    DurationLaw law;
    std::vector<Duration> durations;
};

// Nothing when the request has no durate=. Throws ApiRefusal: 400 for a list
// that is not one or a duration outside the law's range (naming the range),
// 404 when the folder has no law.
std::optional<DurationQuery> DurationParameters(const httplib::Request& request, DataFolder& data);

// The rain's JSON object with "law" and "durations" added: per duration, the
// height in mm and the intensity in mm/h for each return period, in the
// quantiles' order.
std::string WithDurations(std::string json, const DurationQuery& query, const PointRain& rain);

// {"fromHours":..,"toHours":..,"minHours":..,"maxHours":..[,"subhourExponent":..,"subhourFromHours":..]}
std::string LawJson(const DurationLaw& law);

// The storm as JSON: its settings, total, peak intensity and each step's depth and intensity.
std::string HyetographJson(const Hyetograph& storm, const StormSpec& spec, int returnPeriod);

// /api/v1/law and /api/v1/ietogramma.
void AddDurationRoutes(Router& router, DataFolder& data);

}  // namespace quorvel::server
