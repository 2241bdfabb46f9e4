#pragma once
// How the standalone programs reach the anchoring engine: by its programmatic identifier,
// as any host does. Until the engine is served from the component library through the
// registry, this registers it in process.

#include "com/ClassTable.h"

#include <memory>

namespace crv::standalone {

inline constexpr const char* kAnchorManagerProgId = "CRVAnchor.CRVAnchorManager";
inline constexpr Guid kAnchorManagerClsid = MakeGuid("3f0c9b7e-2d41-4a8e-9c53-6b1e0d7a4f20");

// Makes "CRVAnchor.CRVAnchorManager" creatable for as long as the result lives.
std::unique_ptr<ScopedClassRegistration> RegisterEngineInProcess();

}  // namespace crv::standalone
