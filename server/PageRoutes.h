#pragma once

#include "server/DataFolder.h"
#include "server/Router.h"

namespace quorvel::server {

// What the page asks beside the point's rain: the places of the name layers,
// a municipality's outline, the faults of a point typed in a reference
// system and the point's one-page PDF sheet; and the data answers' validators.
void AddPageRoutes(Router& router, DataFolder& data);

}  // namespace quorvel::server
