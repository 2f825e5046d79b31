#include "server/CommandLine.h"

#include <charconv>
#include <filesystem>
#include <string_view>

namespace quorvel::server {

namespace {

int Number(std::string_view text, int lowest, int highest, const std::string& what)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
        throw UsageError(what + " must be a whole number from " + std::to_string(lowest) + " to " +
                         std::to_string(highest) + ": " + std::string(text));
    return value;
}

// HOST:PORT, [IPv6]:PORT or :PORT (loopback).
void ReadListen(std::string_view text, ServerOptions& options)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        throw UsageError("--listen needs HOST:PORT: " + std::string(text));
    std::string_view host = text.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']'))
        host = host.substr(1, host.size() - 2);
    if (!host.empty())
        options.host = std::string(host);
    options.port = Number(text.substr(colon + 1), 0, 65535, "the port");
}

}  // namespace

ServerCommandLine ParseServerCommandLine(int argc, const char* const* argv, const std::string& defaultWeb)
{
    ServerCommandLine line;
    line.options.webDir = defaultWeb;
    bool folder = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool inline_ = false;
        if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            inline_ = true;
        }
        const auto next = [&]() -> std::string {
            if (!inline_) {
                if (i + 1 >= argc)
                    throw UsageError(std::string(arg) + " needs a value");
                value = argv[++i];
            }
            if (value.empty())
                throw UsageError(std::string(arg) + " needs a value");
            return std::string(value);
        };
        if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--folder" || arg == "--cartella") {
            line.options.folder = next();
            folder = true;
        } else if (arg == "--listen") {
            ReadListen(next(), line.options);
        } else if (arg == "--web") {
            line.options.webDir = next();
        } else if (arg == "--threads") {
            line.options.threads = std::size_t(Number(next(), 1, 4096, "--threads"));
        } else if (arg == "--max-map-pixels") {
            line.options.limits.maxMapPixels = Number(next(), 1, 4096 * 4096, "--max-map-pixels");
        } else {
            throw UsageError("unknown argument " + std::string(argv[i]));
        }
    }
    if (!line.help && !folder)
        throw UsageError("no --folder given");
    return line;
}

std::string DefaultWebFolder(const std::string& executable)
{
    std::error_code error;
    const std::filesystem::path beside = std::filesystem::path(executable).parent_path() / "web";
    if (std::filesystem::is_directory(beside, error))
        return beside.string();
    return "/usr/share/quorvel/web";
}

const char* ServerUsage()
{
    return "Usage: quorvel-server --folder DIR [--listen HOST:PORT] [--web DIR] [--threads N]\n"
           "                      [--max-map-pixels N]\n"
           "\n"
           "Answers the design rainfall of Tervania over HTTP: the JSON API under /api/v1/\n"
           "(described at /api/v1/openapi.json) and the web page at /, from the application\n"
           "folder DIR (grd/, dat/, Shp/, Raster/, programs/prototipo/).\n"
           "  --listen   address and port, default 127.0.0.1:8080; port 0 takes any free port\n"
           "  --web      folder of the page's files, default web/ beside the program,\n"
           "             else /usr/share/quorvel/web\n"
           "  --threads  requests answered at once, default 64; waiting connections take none\n"
           "  --max-map-pixels  the largest map picture, width x height, default and\n"
           "             at most 16777216 (4096 x 4096)\n"
           "One line per request goes to standard error.\n"
           "\n"
           "Uso: quorvel-server --folder CARTELLA [--listen HOST:PORTA] [--web CARTELLA] [--threads N]\n"
           "Risponde con le piogge di progetto di Tervania via HTTP: l'API JSON sotto /api/v1/\n"
           "e la pagina web su /, dalla cartella dell'applicazione CARTELLA.\n";
}

}  // namespace quorvel::server
