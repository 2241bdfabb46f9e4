#pragma once
// How the standalone programs reach the anchoring engine: by its programmatic identifier,
// through the class registry, from the component library it names — as any host does.

#include "com/ClassTable.h"

#include <stdexcept>
#include <string>

namespace crv::standalone {

inline constexpr const char* kAnchorManagerProgId = "CRVAnchor.CRVAnchorManager";

class ActivationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Checks that the engine can be created; throws ActivationError saying how to register the
// component when it cannot.
void RequireEngine();

}  // namespace crv::standalone
