// The body of the reply to a device's "browse" request: one line in the hub's single-quoted
// object notation, listing a folder's children in the database's order.
#pragma once

#include <list>
#include <ostream>
#include <string>

#include "client-core/NorvoMediaItem.h"

namespace NorvoWinUtilities {

// Writes the reply body for the children `items` of the folder `uri`. Only a well-formed uri
// (32 lower-case hex digits) is echoed; anything else is echoed as the empty text, so that no
// request can break the reply's quoting.
void GenerateJsonMsg(const std::list<norvo::NorvoMediaItem*>& items, const std::string& uri,
                     std::ostream& out);

}  // namespace NorvoWinUtilities
