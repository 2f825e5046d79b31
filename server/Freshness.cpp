#include "server/Freshness.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <vector>
#include <stdexcept>

#include <sys/stat.h>
#include <zlib.h>

#include "rain/PointRain.h"
#include "report/Register.h"
#include "server/Api.h"

namespace quorvel::server {

namespace {

bool TakesGzip(const httplib::Request& request)
{
    const std::string accepted = request.get_header_value("Accept-Encoding");
    return accepted.find("gzip") != std::string::npos && accepted.find("gzip;q=0") == std::string::npos;
}

}  // namespace

std::string DataTag(DataFolder& data)
{
    const Health health = data.CurrentHealth();
    std::string tag = "\"" + health.version;
    for (const std::string* digest : {&health.a2, &health.a1, &health.cv, &health.reportTemplate, &health.a2Header,
                                      &health.a1Header, &health.cvHeader})
        tag += "-" + digest->substr(0, 12);
    // The sample mark changes the answers' "sample" without touching a grid.
    return tag + (health.sample ? "-s\"" : "\"");
}

std::string TextTag(const std::string& text)
{
    // FNV-1a: stable from one run of the server to the next.
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string tag = "\"";
    for (int shift = 60; shift >= 0; shift -= 4)
        tag += kHex[(hash >> shift) & 15];
    return tag + "\"";
}

std::string MapTag(const std::string& folder)
{
    std::vector<std::string> stamps;
    for (const char* layers : {"Shp", "Raster"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder + layers, error)) {
            struct stat info {};
            if (::stat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
                stamps.push_back(entry.path().string() + ' ' + std::to_string(info.st_size) + ' ' +
                                 std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec));
        }
    }
    std::sort(stamps.begin(), stamps.end());
    std::string all = ProgramVersion();
    for (const std::string& stamp : stamps)
        all += '\n' + stamp;
    return TextTag(all);
}

bool NotModified(const httplib::Request& request, httplib::Response& response, const std::string& tag)
{
    response.set_header("ETag", tag);
    response.set_header("Cache-Control", "no-cache");
    const std::string known = request.get_header_value("If-None-Match");
    if (known.empty() || (known.find(tag) == std::string::npos && known != "*"))
        return false;
    response.status = 304;
    return true;
}

std::string GridsModified(const DataFolder& data)
{
    std::time_t newest = 0;
    for (const char* grid : {kA2Raster, kA1Raster, kCvRaster}) {
        struct stat info {};
        if (::stat((data.path() + grid).c_str(), &info) != 0)
            return {};
        newest = std::max(newest, info.st_mtim.tv_sec);
    }
    std::tm utc{};
    ::gmtime_r(&newest, &utc);
    // HTTP dates are English whatever the locale: written by hand.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto two = [](int value) { return std::string(value < 10 ? "0" : "") + std::to_string(value); };
    return std::string(kDays[utc.tm_wday]) + ", " + two(utc.tm_mday) + " " + kMonths[utc.tm_mon] + " " +
           std::to_string(utc.tm_year + 1900) + " " + two(utc.tm_hour) + ":" + two(utc.tm_min) + ":" +
           two(utc.tm_sec) + " GMT";
}

std::string Gzip(const std::string& text)
{
    z_stream stream{};
    // 15 + 16: a gzip header and trailer rather than zlib's.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot start");
    std::string out(deflateBound(&stream, uLong(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("zlib cannot compress");
    return out;
}

void GzipText::Send(const httplib::Request& request, httplib::Response& response,
                    std::shared_ptr<const std::string> text, const char* type)
{
    response.set_header("Vary", "Accept-Encoding");
    if (!TakesGzip(request)) {
        server::Send(response, std::move(text), type);
        return;
    }
    std::shared_ptr<const std::string> compressed;
    {
        const std::lock_guard lock(mutex_);
        if (source_ != text) {
            compressed_ = std::make_shared<const std::string>(Gzip(*text));
            source_ = text;
        }
        compressed = compressed_;
    }
    server::Send(response, std::move(compressed), type);
    response.set_header("Content-Encoding", "gzip");
}

}  // namespace quorvel::server
