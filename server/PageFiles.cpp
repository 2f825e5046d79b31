#include "server/PageFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/Freshness.h"

namespace quorvel::server {

namespace {

std::optional<std::string> RealPath(const std::string& path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
}

bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The whole file, read once it is open, so a file replaced meanwhile is sent
// whole, old or new.
std::optional<std::string> ReadFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::string bytes;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok)
        bytes.reserve(std::size_t(info.st_size));
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        bytes.append(buffer, std::size_t(got));
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return bytes;
}

bool AcceptsGzip(const httplib::Request& request)
{
    const std::string accepted = request.get_header_value("Accept-Encoding");
    return accepted.find("gzip") != std::string::npos && accepted.find("gzip;q=0") == std::string::npos;
}

// esbuild's content-hashed names, "quorvel-5ZKQ2T3M.js": such a file never
// changes under its name.
bool IsContentHashed(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < 9 || path[dot - 9] != '-')
        return false;
    return std::all_of(path.begin() + std::ptrdiff_t(dot - 8), path.begin() + std::ptrdiff_t(dot),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

}  // namespace

const char* ContentTypeOf(const std::string& path)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".woff", "font/woff"},
        {".txt", "text/plain; charset=utf-8"},
        {".wasm", "application/wasm"},
    };
    for (const auto& [extension, type] : kTypes)
        if (path.ends_with(extension))
            return type;
    return "application/octet-stream";
}

PageFiles::PageFiles(const std::string& folder)
{
    if (const auto real = RealPath(folder))
        root_ = *real == "/" ? *real : *real + "/";
}

std::optional<std::string> PageFiles::Resolve(const std::string& urlPath) const
{
    if (root_.empty() || !urlPath.starts_with('/') || urlPath.find('\0') != std::string::npos ||
        urlPath.find('\\') != std::string::npos)
        return std::nullopt;
    std::string relative = urlPath.substr(1);
    if (relative.empty() || relative.ends_with('/'))
        relative += "index.html";
    for (std::size_t start = 0; start <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view segment = std::string_view(relative).substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..")
            return std::nullopt;
        start = end + 1;
    }
    const auto real = RealPath(root_ + relative);
    if (!real || !real->starts_with(root_) || !IsRegularFile(*real))
        return std::nullopt;
    return real;
}

bool PageFiles::Serve(const httplib::Request& request, httplib::Response& response) const
{
    const auto path = Resolve(request.path);
    if (!path)
        return false;
    std::optional<std::string> bytes;
    // The compressed sibling obeys the file's own rules: a link out of the
    // folder, or anything but a regular file, is never sent.
    if (AcceptsGzip(request))
        if (const auto sibling = RealPath(*path + ".gz"); sibling && sibling->starts_with(root_) && IsRegularFile(*sibling))
            bytes = ReadFile(*sibling);
    const bool gzipped = bytes.has_value();
    if (!gzipped)
        bytes = ReadFile(*path);
    if (!bytes)
        return false;
    if (IsContentHashed(*path)) {
        response.set_header("Cache-Control", "public, max-age=31536000, immutable");
    } else {
        // The other files change with each build, under the same names.
        response.set_header("Cache-Control", "no-cache");
        const std::string tag = TextTag(*bytes);
        response.set_header("ETag", tag);
        if (request.get_header_value("If-None-Match").find(tag) != std::string::npos) {
            response.set_header("Vary", "Accept-Encoding");
            response.status = 304;
            return true;
        }
    }
    // Served through a provider of known length, which httplib never
    // compresses again: files are sent as they are stored.
    auto shared = std::make_shared<const std::string>(std::move(*bytes));
    response.set_content_provider(shared->size(), ContentTypeOf(*path),
                                  [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      return sink.write(shared->data() + offset, length);
                                  });
    if (gzipped)
        response.set_header("Content-Encoding", "gzip");
    response.set_header("Vary", "Accept-Encoding");
    response.set_header("X-Content-Type-Options", "nosniff");
    return true;
}

}  // namespace quorvel::server
