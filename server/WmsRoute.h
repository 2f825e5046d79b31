#pragma once

#include <string>

#include "server/DataFolder.h"
#include "server/Limits.h"
#include "server/Router.h"

namespace quorvel::server {

// GET /wms: the map as a WMS 1.3.0 over the folder's layers. The service is
// made at its first request, which needs the process's QGuiApplication; the
// overviews of the large rasters are built from now on.
void AddWmsRoute(Router& router, DataFolder& data, const ServiceLimits& limits = {});

}  // namespace quorvel::server
