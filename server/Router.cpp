#include "server/Router.h"

namespace quorvel::server {

namespace {

Router::HandlerWithContentReader IgnoringReader(Router::Handler handler)
{
    return [handler = std::move(handler)](const httplib::Request& request, httplib::Response& response,
                                          const httplib::ContentReader&) { handler(request, response); };
}

}  // namespace

void Router::Add(const std::string& path, const char* methods)
{
    std::string& allowed = allowed_[path];
    if (!allowed.empty())
        allowed += ", ";
    allowed += methods;
}

void Router::Get(const std::string& path, Handler handler)
{
    Add(path, "GET, HEAD");
    routes_[path].get = IgnoringReader(std::move(handler));
}

void Router::GetQuick(const std::string& path, Handler handler)
{
    Get(path, std::move(handler));
    routes_[path].quick = true;
}

void Router::Post(const std::string& path, Handler handler)
{
    Add(path, "POST");
    routes_[path].post = IgnoringReader(std::move(handler));
}

void Router::Post(const std::string& path, HandlerWithContentReader handler)
{
    Add(path, "POST");
    routes_[path].post = std::move(handler);
}

void Router::GetUnder(const std::string& prefix, Handler handler)
{
    prefixes_.emplace_back(prefix, IgnoringReader(std::move(handler)));
}

void Router::Files(Handler handler)
{
    files_ = std::move(handler);
}

std::string Router::Allowed(const std::string& path) const
{
    if (const auto found = allowed_.find(path); found != allowed_.end())
        return found->second;
    for (const auto& [prefix, handler] : prefixes_)
        if (path.starts_with(prefix))
            return "GET, HEAD";
    if (files_ && !path.starts_with(kApiPrefix))
        return "GET, HEAD";
    return {};
}

Router::HandlerWithContentReader Router::Find(const std::string& method, const std::string& path) const
{
    const bool get = method == "GET" || method == "HEAD";
    if (const auto found = routes_.find(path); found != routes_.end())
        return get ? found->second.get : method == "POST" ? found->second.post : nullptr;
    for (const auto& [prefix, handler] : prefixes_)
        if (path.starts_with(prefix))
            return get ? handler : nullptr;
    if (get && files_ && !path.starts_with(kApiPrefix))
        return IgnoringReader(files_);
    return nullptr;
}

bool Router::IsQuick(const std::string& method, const std::string& path) const
{
    const auto found = routes_.find(path);
    return found != routes_.end() && found->second.quick && (method == "GET" || method == "HEAD");
}

}  // namespace quorvel::server
