#pragma once
// The standalone host rebuilt from a snapshot that crvanchor-snapshot wrote on a machine that
// could read the document (standalone/document/Snapshot.cpp describes the format): here there
// is neither the document's GIS library nor its toolkit.

#include "standalone/host/StandaloneHost.h"

#include <memory>
#include <string>

namespace crv::standalone {

// Throws ComError naming the file and what is wrong with it, where in its tree (a JSON pointer)
// when it parses: numbered as the platform numbers a file that cannot be opened and data that
// is not valid, for a client that sees the result and not the error object. Groups and property
// bags nest no deeper, and values take no more bits, than a map document's reader allows.
std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path);

}  // namespace crv::standalone
