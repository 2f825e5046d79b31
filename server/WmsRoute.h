#pragma once

#include <string>

#include "server/Limits.h"
#include "server/Router.h"

namespace quorvel::server {

// GET /wms: the map as a WMS 1.3.0 over the folder's layers. The service is
// made at its first request, which needs the process's QGuiApplication.
void AddWmsRoute(Router& router, const std::string& folder, const ServiceLimits& limits = {});

}  // namespace quorvel::server
