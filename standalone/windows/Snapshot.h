#pragma once
// The standalone host rebuilt from a snapshot that crvanchor-snapshot wrote on a machine that
// could read the document (standalone/document/Snapshot.cpp describes the format): here there
// is neither the document's GIS library nor its toolkit.

#include "standalone/host/StandaloneHost.h"

#include <memory>
#include <string>

namespace crv::standalone {

// Throws ComError naming the file and what is wrong with it.
std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path);

}  // namespace crv::standalone
