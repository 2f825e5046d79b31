#include "crs/TypedPointIn.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "crs/Angle.h"
#include "rain/Error.h"
#include "rain/TypedPoint.h"

namespace quorvel {

namespace {

// Metres to the millimetre: a float would round UTM northings to half a metre.
NumberStatus ReadMetres(std::string_view text, std::string_view localeSeparator, double& value)
{
    float check = 0;
    const NumberStatus status = ReadCoordinate(text, localeSeparator, check);
    if (status != NumberStatus::Ok)
        return status;
    std::string plain;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '+')
            plain += (c >= '0' && c <= '9') || c == '-' ? c : '.';
    // A multi-byte locale separator became several dots: keep one.
    plain.erase(std::unique(plain.begin(), plain.end(), [](char a, char b) { return a == '.' && b == '.'; }),
                plain.end());
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::fixed);
    return ec == std::errc() && end == plain.data() + plain.size() ? NumberStatus::Ok : NumberStatus::NotANumber;
}

std::optional<SystemPoint> Convert(ReferenceSystem system, SystemPoint point)
{
    try {
        return ToGaussBoaga(system, point);
    } catch (const Error&) {
        return std::nullopt;
    }
}

bool InArea(const SystemPoint& p, const GridArea& area)
{
    return p.x >= area.west && p.x < area.east && p.y >= area.south && p.y < area.north;
}

std::string Number(double value, bool degrees)
{
    char text[400];
    std::string out(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, degrees ? 4 : 0).ptr);
    if (degrees)
        std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

// The area's extent in the system, from points along its edges.
std::string AreaRange(ReferenceSystem system, const GridArea& area)
{
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
    for (int i = 0; i <= 8; ++i) {
        const double t = i / 8.0;
        const double e = area.west + t * (area.east - area.west);
        const double n = area.south + t * (area.north - area.south);
        for (const SystemPoint gb : {SystemPoint{e, area.south}, SystemPoint{e, area.north}, SystemPoint{area.west, n},
                                     SystemPoint{area.east, n}}) {
            const SystemPoint p = FromGaussBoaga(system, gb);
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    }
    const bool degrees = IsGeographic(system);
    const std::string unit = degrees ? "°" : " m";
    return std::string(BoxCaption(system, false)) + " va da " + Number(minY, degrees) + " a " + Number(maxY, degrees) +
           unit + ", " + BoxCaption(system, true) + " da " + Number(minX, degrees) + " a " + Number(maxX, degrees) + unit;
}

}  // namespace

NumberStatus ReadSystemCoordinate(ReferenceSystem system, bool x, std::string_view text,
                                  std::string_view localeSeparator, double& value)
{
    if (IsGeographic(system))
        return ReadAngle(text, x ? AngleAxis::Longitude : AngleAxis::Latitude, value);
    return ReadMetres(text, localeSeparator, value);
}

const char* BoxCaption(ReferenceSystem system, bool x)
{
    if (IsGeographic(system))
        return x ? "Lon" : "Lat";
    return x ? "E" : "N";
}

std::optional<SystemPoint> TypedPointToGaussBoaga(ReferenceSystem system, std::string_view xText,
                                                  std::string_view yText, std::string_view localeSeparator)
{
    SystemPoint typed;
    if (ReadSystemCoordinate(system, true, xText, localeSeparator, typed.x) != NumberStatus::Ok ||
        ReadSystemCoordinate(system, false, yText, localeSeparator, typed.y) != NumberStatus::Ok)
        return std::nullopt;
    return Convert(system, typed);
}

std::string TypedPointFaultsIn(ReferenceSystem system, const std::string& xText, const std::string& yText,
                               std::string_view localeSeparator, const std::optional<GridArea>& area)
{
    if (system == ReferenceSystem::GaussBoagaEast)
        return TypedPointFaults(xText, yText, localeSeparator, area);

    const std::string in = std::string(" (") + SystemName(system) + ")";
    const bool degrees = IsGeographic(system);
    SystemPoint typed;
    std::string faults;
    // Latitude first, as it is typed.
    for (const bool x : {false, true}) {
        const std::string& text = x ? xText : yText;
        const std::string name = std::string("Casella ") + BoxCaption(system, x);
        std::string line;
        switch (ReadSystemCoordinate(system, x, text, localeSeparator, x ? typed.x : typed.y)) {
        case NumberStatus::Ok:
            break;
        case NumberStatus::Empty:
            line = name + " vuota" + in + ".";
            break;
        case NumberStatus::OutOfRange:
            line = name + in + ": \"" + text + "\" è " +
                   (degrees ? std::string("oltre ") + (x ? "180°." : "90°.") : "un numero troppo grande.");
            break;
        case NumberStatus::NotANumber:
            line = name + in + ": \"" + text + "\" non è " +
                   (degrees ? "un angolo (gradi decimali come 45,5042, o gradi, primi e secondi come 45°30'15\"N)."
                            : "un numero (solo cifre, con \",\" o \".\" per i decimali).");
            break;
        }
        if (!line.empty())
            faults += (faults.empty() ? "" : "\n") + line;
    }
    if (!faults.empty())
        return faults;

    const std::optional<SystemPoint> gb = Convert(system, typed);
    if (!gb)
        return "Il punto" + in + " non si può convertire in Gauss-Boaga.";
    if (!area || InArea(*gb, *area))
        return {};
    const std::optional<SystemPoint> swapped = Convert(system, {typed.y, typed.x});
    const std::string x = BoxCaption(system, true);
    const std::string y = BoxCaption(system, false);
    if (swapped && InArea(*swapped, *area))
        return "I valori di " + y + " e " + x + " sembrano scambiati" + in + ": " + AreaRange(system, *area) + ".";
    return "Il punto " + y + " " + Number(typed.y, degrees) + ", " + x + " " + Number(typed.x, degrees) + in +
           " è fuori dalla griglia: " + AreaRange(system, *area) + ".";
}

}  // namespace quorvel
