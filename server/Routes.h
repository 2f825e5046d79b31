#pragma once

#include "server/DataFolder.h"
#include "server/Limits.h"
#include "server/PageFiles.h"
#include "server/Router.h"

namespace quorvel::server {

// Every route of the server, in the order they are tried.
void AddRoutes(Router& router, DataFolder& data, const PageFiles& page, const ServiceLimits& limits = {});

}  // namespace quorvel::server
