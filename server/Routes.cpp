#include "server/Routes.h"

#include "server/Api.h"
#include "server/Durations.h"
#include "server/GridRoutes.h"
#include "server/PageRoutes.h"
#include "server/WmsRoute.h"

namespace quorvel::server {

void AddRoutes(Router& router, DataFolder& data, const PageFiles& page, const ServiceLimits& limits)
{
    AddApiRoutes(router, data, limits);
    AddDurationRoutes(router, data);
    // Before the map service, whose overviews are built in the background
    // from its start: the grids' first file is made while the server starts.
    AddGridRoutes(router, data);
    AddWmsRoute(router, data, limits);
    AddPageRoutes(router, data);
    // Further services register their paths here, before the page's files,
    // which take every other GET and so come last.
    router.Files([&page](const httplib::Request& request, httplib::Response& response) {
        if (!page.Serve(request, response))
            SendFailure(response, {404, ErrorKind::FileNotFound, {"no such file", "file inesistente"}});
    });
}

}  // namespace quorvel::server
