#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <httplib.h>

namespace quorvel::server {

// The server's paths and the methods each answers, so that a request with
// another method gets 405 and the methods it may use, before its body is read.
// Requests and answers are httplib's value types; the connections are the
// server's own.
class Router {
public:
    using Handler = httplib::Server::Handler;
    using HandlerWithContentReader = httplib::Server::HandlerWithContentReader;

    // GET, and HEAD with the same headers.
    void Get(const std::string& path, Handler handler);
    // A GET whose handler answers in microseconds without waiting on a lock
    // held long, a queue or a streamed body: it may be answered on the
    // connections' event loop.
    void GetQuick(const std::string& path, Handler handler);
    void Post(const std::string& path, Handler handler);
    // A POST whose handler reads the body itself.
    void Post(const std::string& path, HandlerWithContentReader handler);
    // GET and HEAD of every path under prefix (ending with "/"), which the
    // handler reads from request.path.
    void GetUnder(const std::string& prefix, Handler handler);
    // Every other GET: the page's files. Register it last, as routes are
    // tried in the order they were added.
    void Files(Handler handler);

    // "GET, HEAD", "POST", ...; empty for a path that is no route.
    std::string Allowed(const std::string& path) const;

    // The handler of a method on a path (HEAD takes GET's); empty when there
    // is none.
    HandlerWithContentReader Find(const std::string& method, const std::string& path) const;
    bool IsQuick(const std::string& method, const std::string& path) const;

private:
    struct Route {
        HandlerWithContentReader get;
        HandlerWithContentReader post;
        bool quick = false;  // the GET
    };
    void Add(const std::string& path, const char* methods);

    std::map<std::string, std::string> allowed_;
    std::map<std::string, Route> routes_;
    std::vector<std::pair<std::string, HandlerWithContentReader>> prefixes_;  // GET under each
    Handler files_;
};

// Paths under this prefix are the API's alone: never a file of the page.
inline constexpr const char* kApiPrefix = "/api/";

}  // namespace quorvel::server
