#include "rain/TypedPoint.h"

#include <cmath>

namespace quorvel {

namespace {

struct Box {
    const char* letter;  // as the dialog labels the box
    const char* axis;
    std::string text;    // trimmed, for quoting
    double from = 0;     // the grid's range along the axis, when known
    double to = 0;
    NumberStatus status = NumberStatus::Empty;
    float value = 0;
};

std::string Trimmed(std::string text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    text.erase(text.find_last_not_of(" \t") + 1);
    text.erase(0, first);
    // A whole paragraph pasted into a box need not come back in full.
    if (text.size() > 24)
        text = text.substr(0, 24) + "...";
    return text;
}

std::string Metres(double value)
{
    return std::to_string(std::llround(value));
}

std::string Range(double from, double to)
{
    return "da " + Metres(from) + " a " + Metres(to) + " m";
}

bool Inside(float value, double from, double to)
{
    return value >= from && value < to;
}

}  // namespace

NumberStatus ReadCoordinate(std::string_view text, std::string_view localeSeparator, float& value)
{
    return ReadSingle(text, {localeSeparator, ",", "."}, value);
}

std::string TypedPointFaults(const std::string& eastText, const std::string& northText,
                             std::string_view localeSeparator, const std::optional<GridArea>& area)
{
    Box east{"E", "Est", Trimmed(eastText), area ? area->west : 0, area ? area->east : 0};
    Box north{"N", "Nord", Trimmed(northText), area ? area->south : 0, area ? area->north : 0};
    east.status = ReadCoordinate(eastText, localeSeparator, east.value);
    north.status = ReadCoordinate(northText, localeSeparator, north.value);
    const bool bothRead = east.status == NumberStatus::Ok && north.status == NumberStatus::Ok;

    if (area && bothRead && !Inside(east.value, east.from, east.to) && !Inside(north.value, north.from, north.to) &&
        Inside(north.value, east.from, east.to) && Inside(east.value, north.from, north.to))
        return "I valori di E e N sembrano scambiati: Est va " + Range(east.from, east.to) + ", Nord " +
               Range(north.from, north.to) + ".";

    std::string faults;
    for (const Box& box : {east, north}) {
        const std::string name = std::string("Casella ") + box.letter;
        const bool outside = box.status == NumberStatus::OutOfRange ||
                             (area && box.status == NumberStatus::Ok && !Inside(box.value, box.from, box.to));
        std::string line;
        if (box.status == NumberStatus::Empty)
            line = name + " vuota: inserire la coordinata " + box.axis + " in metri.";
        else if (box.status == NumberStatus::NotANumber)
            line = name + ": \"" + box.text + "\" non è un numero (solo cifre, con \",\" o \".\" per i decimali).";
        else if (outside)
            line = name + ": " + box.text + " è fuori dalla griglia" +
                   (area ? " (" + std::string(box.axis) + " " + Range(box.from, box.to) + ")." : ".");
        if (!line.empty())
            faults += (faults.empty() ? "" : "\n") + line;
    }
    return faults;
}

}  // namespace quorvel
