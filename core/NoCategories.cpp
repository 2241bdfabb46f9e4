// The mirror's category registrar: the core keeps no registry, so entering a class into a
// component category is refused; a host installs its pages in its own way.
#include "standalone/host/Objects.h"

namespace crv::standalone {

void CategoryRegistrarImpl::Setup(const std::string&, const ComPtr<HostUID>&, const ComPtr<HostUID>&, bool) {
    HostCall("CategoryRegistrar.Setup");
    Raise(hresult::kRegistryWrite, "CategoryRegistrar.Setup",
          "The portable core keeps no registry: component categories are the host's own.");
}

}  // namespace crv::standalone
