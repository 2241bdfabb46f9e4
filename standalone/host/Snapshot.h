#pragma once
// The standalone host rebuilt from a snapshot (standalone/document/Snapshot.cpp describes the
// format): what crvanchor-snapshot wrote where the document could be read, for the Windows test
// host, or what a host of the portable core describes of its layout. Neither needs the
// document's GIS library or a toolkit.

#include "standalone/host/StandaloneHost.h"

#include <memory>
#include <string>

namespace crv::standalone {

// Throws ComError naming the file and what is wrong with it, where in its tree (a JSON pointer)
// when it parses: numbered as the platform numbers a file that cannot be opened and data that
// is not valid, for a client that sees the result and not the error object. Groups and property
// bags nest no deeper, and values take no more bits, than a map document's reader allows.
std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path);
// The same from the snapshot's text; the error names `name` and comes from `source`. `units`,
// when given, receives the units the page is measured in ("inches" when the snapshot says none).
std::unique_ptr<StandaloneHost> HostFromSnapshotText(const std::string& text, const std::string& name,
                                                     const char* source, std::string* units = nullptr);

// A value tagged as a snapshot tags an element's custom property ({"kind": "bag", "entries":
// [...]}, {"kind": "int16", "value": 7}, ...), with the same limits; refused as a snapshot is,
// with `name` and where in its tree.
Variant TaggedValueFromText(const std::string& text, const std::string& name, const char* source);

}  // namespace crv::standalone
