#pragma once
// How the standalone programs reach the anchoring engine: by its programmatic identifier,
// through the class registry, from the component library it names — as any host does.

#include "com/ClassTable.h"

#include <stdexcept>
#include <string>

namespace crv::support {

inline constexpr const char* kAnchorManagerProgId = "CRVAnchor.CRVAnchorManager";

class ActivationError : public std::runtime_error {
public:
    explicit ActivationError(const std::string& what, bool notRegistered = true)
        : std::runtime_error(what), not_registered_(notRegistered) {}
    // True when the registry holds no engine; false when the registry itself failed.
    bool NotRegistered() const { return not_registered_; }

private:
    bool not_registered_;
};

// Checks that the engine can be created; throws ActivationError saying how to register the
// component when it is not registered, or naming the registry and the reason when the
// registry cannot be read.
void RequireEngine();

}  // namespace crv::support
