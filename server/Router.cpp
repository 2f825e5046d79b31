#include "server/Router.h"

namespace quorvel::server {

namespace {

// httplib matches paths as regular expressions; ours are plain text.
std::string Literal(const std::string& path)
{
    std::string pattern;
    for (const char c : path) {
        if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

void Router::Add(const std::string& path, const char* methods)
{
    std::string& allowed = allowed_[path];
    if (!allowed.empty())
        allowed += ", ";
    allowed += methods;
}

void Router::Get(const std::string& path, httplib::Server::Handler handler)
{
    Add(path, "GET, HEAD");
    server_.Get(Literal(path), std::move(handler));
}

void Router::Post(const std::string& path, httplib::Server::Handler handler)
{
    Add(path, "POST");
    server_.Post(Literal(path), std::move(handler));
}

void Router::Post(const std::string& path, httplib::Server::HandlerWithContentReader handler)
{
    Add(path, "POST");
    server_.Post(Literal(path), std::move(handler));
}

void Router::GetUnder(const std::string& prefix, httplib::Server::Handler handler)
{
    prefixes_.push_back(prefix);
    server_.Get(Literal(prefix) + "[^?]*", std::move(handler));
}

void Router::Files(httplib::Server::Handler handler)
{
    files_ = true;
    server_.Get("/.*", std::move(handler));
}

std::string Router::Allowed(const std::string& path) const
{
    if (const auto found = allowed_.find(path); found != allowed_.end())
        return found->second;
    for (const std::string& prefix : prefixes_)
        if (path.starts_with(prefix))
            return "GET, HEAD";
    if (files_ && !path.starts_with(kApiPrefix))
        return "GET, HEAD";
    return {};
}

}  // namespace quorvel::server
