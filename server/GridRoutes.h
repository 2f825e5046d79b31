#pragma once

#include "server/DataFolder.h"
#include "server/Router.h"

namespace quorvel::server {

// GET /api/v1/griglie/<name>.tif for a2, a1, cv and q2 ... q200: the grids'
// maps as Cloud Optimized GeoTIFF, made once for the grid files as they are.
void AddGridRoutes(Router& router, DataFolder& data);

}  // namespace quorvel::server
