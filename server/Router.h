#pragma once

#include <map>
#include <string>
#include <vector>

#include <httplib.h>

namespace quorvel::server {

// The server's paths and the methods each answers, so that a request with
// another method gets 405 and the methods it may use, before its body is read.
class Router {
public:
    explicit Router(httplib::Server& server) : server_(server) {}

    // GET, and HEAD with the same headers.
    void Get(const std::string& path, httplib::Server::Handler handler);
    void Post(const std::string& path, httplib::Server::Handler handler);
    // A POST whose handler reads the body itself.
    void Post(const std::string& path, httplib::Server::HandlerWithContentReader handler);
    // GET and HEAD of every path under prefix (ending with "/"), which the
    // handler reads from request.path.
    void GetUnder(const std::string& prefix, httplib::Server::Handler handler);
    // Every other GET: the page's files. Register it last, as routes are
    // tried in the order they were added.
    void Files(httplib::Server::Handler handler);

    // "GET, HEAD", "POST", ...; empty for a path that is no route.
    std::string Allowed(const std::string& path) const;

private:
    void Add(const std::string& path, const char* methods);

    httplib::Server& server_;
    std::map<std::string, std::string> allowed_;
    std::vector<std::string> prefixes_;  // GET under each
    bool files_ = false;
};

// Paths under this prefix are the API's alone: never a file of the page.
inline constexpr const char* kApiPrefix = "/api/";

}  // namespace quorvel::server
