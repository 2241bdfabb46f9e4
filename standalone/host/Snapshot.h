#pragma once
// The standalone host rebuilt from a snapshot (standalone/document/Snapshot.cpp describes the
// format): what crvanchor-snapshot wrote where the document could be read, for the Windows test
// host, or what a host of the portable core describes of its layout. Neither needs the
// document's GIS library or a toolkit.

#include "standalone/host/StandaloneHost.h"

#include <memory>
#include <string>

namespace crv::standalone {

// Throws ComError naming the file and what is wrong with it.
std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path);
// The same from the snapshot's text; the error names `name` and comes from `source`.
std::unique_ptr<StandaloneHost> HostFromSnapshotText(const std::string& text, const std::string& name,
                                                     const char* source);

}  // namespace crv::standalone
