#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <httplib.h>

#include "server/DataFolder.h"

namespace quorvel::server {

// Answers that change only with the data carry a validator, so that a
// browser coming back revalidates them and gets 304 instead of the bytes.

// The program's version and the digests of the three grids, their headers and
// the template, as a strong entity tag. Throws Error.
std::string DataTag(DataFolder& data);
// The program's version and the size and modification time of every file of
// the map's layers (Shp/ and Raster/ under folder): a tag for the map's
// pictures, cheap enough to take at each request.
std::string MapTag(const std::string& folder);
// A strong entity tag of a text the server keeps, such as the municipality list.
std::string TextTag(const std::string& text);

// Sets ETag and "Cache-Control: no-cache"; true, with the answer made a 304,
// when the client's If-None-Match names this tag.
bool NotModified(const httplib::Request& request, httplib::Response& response, const std::string& tag);

// The newest modification time of the three grids as an HTTP date, for
// Last-Modified: when the data were last changed. Empty when unknown.
std::string GridsModified(const DataFolder& data);

// A text compressed once with gzip for the clients that take it, sent as
// stored otherwise.
class GzipText {
public:
    void Send(const httplib::Request& request, httplib::Response& response,
              std::shared_ptr<const std::string> text, const char* type);

private:
    std::mutex mutex_;
    std::shared_ptr<const std::string> source_;
    std::shared_ptr<const std::string> compressed_;
};

// gzip's format at its best compression. Throws std::runtime_error.
std::string Gzip(const std::string& text);

}  // namespace quorvel::server
