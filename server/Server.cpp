#include "server/Server.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include <sys/socket.h>

#include "rain/Error.h"
#include "server/Api.h"
#include "server/Routes.h"

namespace quorvel::server {

namespace {

using Clock = std::chrono::steady_clock;

// When the request the thread is answering arrived at the routing; nothing
// for one refused while it was still being read.
thread_local std::optional<Clock::time_point> tRequestStart;

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

// A refusal sent before the request's body is read: the connection must
// close, or the body would be read as the next request.
void Refuse(const httplib::Request& request, httplib::Response& response, const ApiFailure& failure)
{
    SendFailure(response, failure);
    if (request.get_header_value<std::uint64_t>("Content-Length") > 0 || request.has_header("Transfer-Encoding"))
        response.set_header("Connection", "close");
}

ApiFailure MethodNotAllowed(const std::string& method, const std::string& allowed)
{
    return {405, ErrorKind::TypeMismatch,
            {"the method " + method + " is not one of " + allowed, "il metodo " + method + " non è tra " + allowed}};
}

// httplib refuses a request line whose method it does not know as a bad
// request; it is an unknown method all the same.
bool IsUnknownMethod(const std::string& method)
{
    static const char* const kKnown[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"};
    if (method.empty() || !std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return false;
    return std::none_of(std::begin(kKnown), std::end(kKnown), [&](const char* known) { return method == known; });
}

// The answer to a request httplib refused itself, or that no route took.
ApiFailure ProtocolFailure(int status)
{
    switch (status) {
    case 404:
        return {404, ErrorKind::FileNotFound, {"no such path", "percorso inesistente"}};
    case 413:
        return TooLarge();
    case 414:
        return {414, ErrorKind::Overflow, {"the request line is too long", "la riga della richiesta è troppo lunga"}};
    default:
        if (status < 500)
            return {status, ErrorKind::TypeMismatch, {"the request cannot be read", "la richiesta non si può leggere"}};
        return {status, ErrorKind::PathAccess, {"the server failed", "errore del server"}};
    }
}

void LogRequest(const httplib::Request& request, const httplib::Response& response)
{
    const std::size_t bytes = response.content_provider_ ? response.content_length_ : response.body.size();
    if (tRequestStart) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - *tRequestStart).count();
        char text[400];
        const auto shown = std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 2).ptr;
        std::fprintf(stderr, "%s %s %d %zu %.*s ms\n", request.method.c_str(), request.path.c_str(), response.status,
                     bytes, int(shown - text), text);
    } else {
        std::fprintf(stderr, "%s %s %d %zu - ms\n", request.method.c_str(), request.path.c_str(), response.status,
                     bytes);
    }
    tRequestStart.reset();
}

}  // namespace

Server::Server(const ServerOptions& options)
    : options_(options), data_(AbsoluteFolder(options.folder)), page_(options.webDir), router_(http_)
{
    // Read now, so a folder without usable grids is told at the start.
    data_.Grids();

    const std::size_t threads = options_.threads;
    http_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // A client that sends or takes nothing for 5 s loses its connection; one
    // that trickles keeps its thread, which is why the documented deployment
    // puts nginx in front.
    http_.set_read_timeout(5);
    http_.set_write_timeout(5);
    http_.set_keep_alive_timeout(5);
    http_.set_keep_alive_max_count(1000);
    http_.set_payload_max_length(kMaxBatchBytes);
    http_.set_tcp_nodelay(true);
    http_.set_socket_options([this](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listening_ = socket;
    });

    http_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        tRequestStart = Clock::now();
        const std::string allowed = router_.Allowed(request.path);
        if (allowed.empty()) {
            Refuse(request, response, ProtocolFailure(404));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!Allows(allowed, request.method)) {
            Refuse(request, response, MethodNotAllowed(request.method, allowed));
            response.set_header("Allow", allowed);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Clients that announce a large body learn before sending it.
    http_.set_expect_100_continue_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.get_header_value<std::uint64_t>("Content-Length") > kMaxBatchBytes) {
            Refuse(request, response, TooLarge());
            return 413;
        }
        return 100;
    });
    http_.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& request,
                                                                   httplib::Response& response) {
        if (!response.body.empty() || response.content_provider_)
            return httplib::Server::HandlerResponse::Unhandled;
        if (response.status == 400 && IsUnknownMethod(request.method)) {
            const char* allowed = "GET, HEAD, POST";
            SendFailure(response, MethodNotAllowed(request.method, allowed));
            response.set_header("Allow", allowed);
            return httplib::Server::HandlerResponse::Handled;
        }
        SendFailure(response, ProtocolFailure(response.status));
        return httplib::Server::HandlerResponse::Handled;
    }));
    http_.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        SendFailure(response, ProtocolFailure(500));
    });
    http_.set_logger(LogRequest);

    AddRoutes(router_, data_, page_, options_.limits);
}

Server::~Server() = default;

int Server::Bind()
{
    int port = options_.port;
    if (port == 0)
        port = http_.bind_to_any_port(options_.host);
    else if (!http_.bind_to_port(options_.host, port))
        port = -1;
    if (port < 0)
        throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(options_.port));
    // httplib's backlog of 5 would drop connections that arrive together,
    // and a dropped connection waits a second for its retry.
    ::listen(listening_, SOMAXCONN);
    return port;
}

void Server::Run()
{
    http_.listen_after_bind();
}

void Server::Stop()
{
    http_.stop();
}

}  // namespace quorvel::server
