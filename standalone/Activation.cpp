#include "standalone/Activation.h"

#include "anchor/CRVAnchorManager.h"

namespace crv::standalone {

std::unique_ptr<ScopedClassRegistration> RegisterEngineInProcess() {
    return std::make_unique<ScopedClassRegistration>(kAnchorManagerClsid, kAnchorManagerProgId, []() -> ComPtr<Unknown> {
        return ComPtr<Unknown>(MakeCom<_CRVAnchorManager, CRVAnchorManager>());
    });
}

}  // namespace crv::standalone
