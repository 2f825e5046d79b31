#include "rain/Durations.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <map>

#include <unistd.h>

#include "rain/Error.h"
#include "rain/FileDescriptor.h"

namespace quorvel {

namespace {

constexpr std::size_t kMaxLawSize = 4096;
constexpr std::size_t kMaxDurations = 64;
// A month: longer storms are not a design-rainfall question.
constexpr double kLongestHours = 720;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The whole text as a finite number, plain decimal only.
std::optional<double> Number(std::string_view text)
{
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string Shortest(double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string ReadUpTo(const std::string& path, std::size_t limit)
{
    const FileDescriptor fd = OpenRegularFile(path);
    std::string text;
    char buffer[1024];
    while (text.size() <= limit) {
        const ssize_t got = ::read(fd.get(), buffer, std::min(sizeof buffer, limit + 1 - text.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SystemError(path);
        if (got == 0)
            break;
        text.append(buffer, std::size_t(got));
    }
    return text;
}

}  // namespace

std::string DurationText(double hours)
{
    return hours < 1 ? Shortest(hours * 60) + " min" : Shortest(hours) + " h";
}

std::string DurationLaw::RangeText() const
{
    return DurationText(MinHours()) + " to " + DurationText(MaxHours());
}

std::string DurationLaw::ItalianRangeText() const
{
    return "da " + DurationText(MinHours()) + " a " + DurationText(MaxHours());
}

DurationLaw ParseDurationLaw(std::string_view text, const std::string& file)
{
    const auto fail = [&file](const std::string& english, const std::string& italian) {
        return Error(ErrorKind::BadFileFormat, file, {english, italian});
    };
    std::map<std::string, std::string, std::less<>> values;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        line = Trim(line.substr(0, std::min(line.find('#'), line.size())));
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            throw fail("line without '=': " + std::string(line), "riga senza '=': " + std::string(line));
        const std::string key(Trim(line.substr(0, equals)));
        const std::string value(Trim(line.substr(equals + 1)));
        static const char* const kKeys[] = {"law", "hours_from", "hours_to", "subhour_exponent",
                                            "subhour_from_minutes"};
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
            throw fail("unknown key " + key, "chiave sconosciuta " + key);
        if (!values.emplace(key, value).second)
            throw fail("key " + key + " given twice", "chiave " + key + " ripetuta");
    }
    const auto number = [&](const char* key) {
        const auto found = values.find(key);
        if (found == values.end())
            throw fail(std::string("no ") + key, std::string("manca ") + key);
        const auto value = Number(found->second);
        if (!value)
            throw fail(std::string(key) + " is not a number: " + found->second,
                       std::string(key) + " non è un numero: " + found->second);
        return *value;
    };
    const auto law = values.find("law");
    if (law == values.end() || law->second != "power")
        throw fail("law must be power (h = h1 * d^a2)", "law deve essere power (h = h1 * d^a2)");

    DurationLaw result;
    result.fromHours = number("hours_from");
    result.toHours = number("hours_to");
    if (!(result.fromHours > 0 && result.fromHours <= result.toHours && result.toHours <= kLongestHours))
        throw fail("hours_from and hours_to must satisfy 0 < from <= to <= 720",
                   "hours_from e hours_to devono rispettare 0 < da <= a <= 720");
    const bool exponent = values.contains("subhour_exponent");
    if (exponent != values.contains("subhour_from_minutes"))
        throw fail("subhour_exponent and subhour_from_minutes go together",
                   "subhour_exponent e subhour_from_minutes vanno insieme");
    if (exponent) {
        const double value = number("subhour_exponent");
        const double minutes = number("subhour_from_minutes");
        if (!(value > 0 && value <= 1))
            throw fail("subhour_exponent must lie in (0, 1]", "subhour_exponent deve stare in (0, 1]");
        if (!(minutes >= 1 && minutes < 60))
            throw fail("subhour_from_minutes must lie in [1, 60)", "subhour_from_minutes deve stare in [1, 60)");
        // The two parts meet at one hour, where both give h1.
        if (result.fromHours != 1)
            throw fail("with a subhour exponent, hours_from must be 1",
                       "con un esponente sotto l'ora, hours_from deve essere 1");
        result.subhourExponent = value;
        result.subhourFromHours = minutes / 60;
    }
    return result;
}

std::optional<DurationLaw> ReadDurationLaw(const std::string& folder)
{
    const std::string path = folder + kDurationLawFile;
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return std::nullopt;
    const std::string text = ReadUpTo(path, kMaxLawSize);
    if (text.size() > kMaxLawSize)
        throw Error(ErrorKind::BadFileFormat, path, {"larger than 4 KiB", "più grande di 4 KiB"});
    return ParseDurationLaw(text, path);
}

std::vector<Duration> ParseDurations(std::string_view list)
{
    const auto fail = [](const std::string& english, const std::string& italian) {
        return Error(ErrorKind::TypeMismatch, {}, {english, italian});
    };
    std::vector<Duration> durations;
    for (;;) {
        const std::size_t comma = std::min(list.find(','), list.size());
        const std::string_view item = Trim(list.substr(0, comma));
        if (durations.size() == kMaxDurations)
            throw fail("more than 64 durations", "più di 64 durate");
        // The item goes into messages: cut, so a hostile one stays short.
        const std::string shown(item.substr(0, 20));
        std::string_view number = item;
        const bool minutes = number.ends_with("min");
        if (minutes)
            number = Trim(number.substr(0, number.size() - 3));
        else if (number.ends_with("h"))
            number = Trim(number.substr(0, number.size() - 1));
        const auto value = Number(number);
        if (!value || !(*value > 0))
            throw fail("not a duration in hours or minutes: \"" + shown + "\"",
                       "non è una durata in ore o minuti: \"" + shown + "\"");
        const double hours = minutes ? *value / 60 : *value;
        if (!(hours > 0) || !std::isfinite(hours))
            throw fail("not a duration: \"" + shown + "\"", "non è una durata: \"" + shown + "\"");
        for (const Duration& earlier : durations)
            if (earlier.hours == hours)
                throw fail("duration given twice: \"" + shown + "\"", "durata ripetuta: \"" + shown + "\"");
        durations.push_back({hours, minutes ? Shortest(*value) + "min" : Shortest(*value)});
        if (comma == list.size())
            return durations;
        list.remove_prefix(comma + 1);
    }
}

void CheckDuration(const DurationLaw& law, double hours, const std::string& file)
{
    if (!(hours >= law.MinHours() && hours <= law.MaxHours()))
        throw Error(ErrorKind::SubscriptOutOfRange, file,
                    {"duration " + DurationText(hours) + " outside the law's range, " + law.RangeText(),
                     "durata " + DurationText(hours) + " fuori dall'intervallo della legge, " +
                         law.ItalianRangeText()});
}

double DurationFactor(const DurationLaw& law, float a2, double hours)
{
    const double exponent = hours < 1 && law.subhourExponent ? *law.subhourExponent : double(a2);
    return std::pow(hours, exponent);
}

double DepthAt(const DurationLaw& law, float h1, float a2, double hours)
{
    return double(h1) * DurationFactor(law, a2, hours);
}

float DepthValue(const DurationLaw& law, float h1, float a2, double hours)
{
    return float(DepthAt(law, h1, a2, hours));
}

float IntensityValue(const DurationLaw& law, float h1, float a2, double hours)
{
    return float(DepthAt(law, h1, a2, hours) / hours);
}

}  // namespace quorvel
