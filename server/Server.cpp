#include "server/Server.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "rain/Error.h"
#include "server/Api.h"
#include "server/Routes.h"

namespace quorvel::server {

namespace {

std::string AbsoluteFolder(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error || !std::filesystem::is_directory(absolute, error))
        throw Error(ErrorKind::FileNotFound, folder, {"no such folder", "cartella inesistente"});
    std::string text = absolute.lexically_normal().string();
    if (!text.ends_with('/'))
        text += '/';
    return text;
}

bool Allows(const std::string& allowed, const std::string& method)
{
    for (std::size_t start = 0; start < allowed.size();) {
        const std::size_t end = std::min(allowed.find(", ", start), allowed.size());
        if (allowed.compare(start, end - start, method) == 0)
            return true;
        start = end + 2;
    }
    return false;
}

ApiFailure MethodNotAllowed(const std::string& method, const std::string& allowed)
{
    return {405, ErrorKind::TypeMismatch,
            {"the method " + method + " is not one of " + allowed, "il metodo " + method + " non è tra " + allowed}};
}

// The answer to a request that cannot be read or served, or that no route took.
ApiFailure ProtocolFailure(int status)
{
    switch (status) {
    case 404:
        return {404, ErrorKind::FileNotFound, {"no such path", "percorso inesistente"}};
    case 413:
        return TooLarge();
    case 414:
        return {414, ErrorKind::Overflow, {"the request line is too long", "la riga della richiesta è troppo lunga"}};
    case 431:
        return {431, ErrorKind::Overflow,
                {"the request's header is over 100 lines or 16 KiB", "l'intestazione della richiesta supera 100 righe o 16 KiB"}};
    case 503:
        return {503, ErrorKind::Overflow, {"the server is busy", "il server è occupato"}};
    default:
        if (status < 500)
            return {status, ErrorKind::TypeMismatch, {"the request cannot be read", "la richiesta non si può leggere"}};
        return {status, ErrorKind::PathAccess, {"the server failed", "errore del server"}};
    }
}

// Headers every answer carries: the API's data are public and read-only, and
// follow the data folder, so a cache must ask again.
void AddCommonHeaders(const std::string& path, httplib::Response& response)
{
    if (!response.has_header("X-Content-Type-Options"))
        response.set_header("X-Content-Type-Options", "nosniff");
    if (!path.starts_with(kApiPrefix))
        return;
    response.set_header("Access-Control-Allow-Origin", "*");
    if (!response.has_header("Cache-Control"))
        response.set_header("Cache-Control", "no-cache");
}

// The text as it is, with control characters, backslashes and DEL escaped, so
// that a request cannot write a line of the log of its own.
std::string Printable(const std::string& text)
{
    std::string printable;
    printable.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F && c != '\\') {
            printable += c;
        } else {
            static const char kHex[] = "0123456789abcdef";
            printable += "\\x";
            printable += kHex[byte >> 4];
            printable += kHex[byte & 15];
        }
    }
    return printable;
}

void LogSent(const httplib::Request& request, const httplib::Response& response, std::size_t sent, bool whole,
             std::optional<double> ms)
{
    const std::string method = request.method.empty() ? "-" : Printable(request.method);
    const std::string path = request.path.empty() ? "-" : Printable(request.path);
    // The milliseconds in the C locale's digits, whatever the user's.
    char time[32] = "-";
    if (ms)
        *std::to_chars(time, time + sizeof time - 1, *ms, std::chars_format::fixed, 2).ptr = '\0';
    if (whole)
        std::fprintf(stderr, "%s %s %d %zu %s ms\n", method.c_str(), path.c_str(), response.status, sent, time);
    else
        std::fprintf(stderr, "%s %s %d %zu %s ms, cut off\n", method.c_str(), path.c_str(), response.status, sent, time);
}

}  // namespace

Server::Server(const ServerOptions& options)
    : options_(options), data_(AbsoluteFolder(options.folder)), page_(options.webDir)
{
    // Read now, so a folder without usable grids is told at the start.
    data_.Grids();
    AddRoutes(router_, data_, page_, options_.limits);

    ConnectionLimits limits;
    limits.bodyBytes = kMaxBatchBytes;
    limits.workers = options_.threads;
    ConnectionHooks hooks;
    hooks.screen = [this](const httplib::Request& request, httplib::Response& response) {
        const std::string allowed = router_.Allowed(request.path);
        if (allowed.empty()) {
            SendFailure(response, ProtocolFailure(404));
        } else if (!Allows(allowed, request.method)) {
            SendFailure(response, MethodNotAllowed(request.method, allowed));
            response.set_header("Allow", allowed);
        } else {
            return false;
        }
        AddCommonHeaders(request.path, response);
        return true;
    };
    hooks.quick = [this](const httplib::Request& request) { return router_.IsQuick(request.method, request.path); };
    hooks.handle = [this](const httplib::Request& request, httplib::Response& response) {
        const httplib::ContentReader reader(
            [&request](const httplib::ContentReceiver& receive) {
                return request.body.empty() || receive(request.body.data(), request.body.size());
            },
            [](const httplib::MultipartContentHeader&, const httplib::ContentReceiver&) { return false; });
        try {
            router_.Find(request.method, request.path)(request, response, reader);
        } catch (...) {
            response = {};
            SendFailure(response, ProtocolFailure(500));
        }
        AddCommonHeaders(request.path, response);
    };
    hooks.failure = [](int status, httplib::Response& response) {
        SendFailure(response, ProtocolFailure(status));
        if (status == 503)
            response.set_header("Retry-After", "1");
        AddCommonHeaders(kApiPrefix, response);
    };
    hooks.sent = LogSent;
    connections_ = std::make_unique<Connections>(limits, std::move(hooks));
}

Server::~Server() = default;

int Server::Bind()
{
    return connections_->Bind(options_.host, options_.port);
}

void Server::Run()
{
    connections_->Run();
}

void Server::Stop()
{
    connections_->Stop();
}

}  // namespace quorvel::server
