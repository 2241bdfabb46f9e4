#include "support/Activation.h"

#include "com/Registry.h"
#include "errors/ErrorHandling.h"

namespace crv::support {

void RequireEngine() {
    try {
        ClassTable::Instance().ClsidFromProgId(kAnchorManagerProgId);
    } catch (const ComError& e) {
        if (e.Number() == hresult::kRegistryRead) throw ActivationError(e.Description(), false);
        throw ActivationError(std::string("the anchoring component is not registered in ") + Registry::DefaultPath() +
                              " (register it with: crvinstall PATH/libCRVAnchor.so)");
    }
}

}  // namespace crv::support
