#include "server/Routes.h"

#include "server/Api.h"

namespace quorvel::server {

void AddRoutes(Router& router, DataFolder& data, const PageFiles& page)
{
    AddApiRoutes(router, data);
    // The page's files take every other GET, so they come last.
    router.Files([&page](const httplib::Request& request, httplib::Response& response) {
        if (!page.Serve(request, response))
            SendFailure(response, {404, ErrorKind::FileNotFound, {"no such file", "file inesistente"}});
    });
}

}  // namespace quorvel::server
