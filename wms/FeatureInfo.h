#pragma once

#include <optional>
#include <string>
#include <vector>

#include "rain/PointRain.h"

namespace quorvel {

// What one queried layer holds at the pixel asked about.
struct LayerInfo {
    std::string layer;
    // Rainfall layers: the Gauss-Boaga point of the pixel's centre and the
    // point run's answer there, nothing where the point run has none.
    GaussBoagaPoint point;
    std::optional<PointRain> rain;
    // The municipality layer: its name and province, empty outside them.
    bool municipalityLayer = false;
    std::string municipality, province;

    bool HasData() const { return rain || !municipality.empty(); }
};

// GetFeatureInfo's answer in one of kFeatureInfoFormats. Every number is the
// shortest decimal that reads back to the same single-precision value, as
// the API writes it; a layer without data says "no data".
inline constexpr const char* kFeatureInfoFormats[] = {"text/plain", "text/html", "application/json"};
std::string FeatureInfoText(const std::vector<LayerInfo>& layers);
std::string FeatureInfoHtml(const std::vector<LayerInfo>& layers);  // Italian
std::string FeatureInfoJson(const std::vector<LayerInfo>& layers);

}  // namespace quorvel
