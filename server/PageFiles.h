#pragma once

#include <optional>
#include <string>

#include <httplib.h>

namespace quorvel::server {

// The page's built files under one folder, served read-only.
class PageFiles {
public:
    // folder need not exist: every file is then 404.
    explicit PageFiles(const std::string& folder);

    // The file a URL path names: "/" and paths ending in "/" name their
    // index.html. Nothing for a path with a NUL, a backslash or a "." or ".."
    // segment, or one that leads, through links too, out of the folder or to
    // anything but a regular file.
    std::optional<std::string> Resolve(const std::string& urlPath) const;

    // Sends the file, or to a client that takes gzip its ".gz" sibling when
    // that is a regular file inside the folder too.
    // False when there is no such file.
    bool Serve(const httplib::Request& request, httplib::Response& response) const;

private:
    std::string root_;  // real path with a trailing "/", empty when missing
};

// By the file's extension; application/octet-stream when unknown.
const char* ContentTypeOf(const std::string& path);

}  // namespace quorvel::server
