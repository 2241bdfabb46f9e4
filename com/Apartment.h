#pragma once
// Apartment threading: an object is used on the thread that created it. A call from any other
// thread is refused before it runs.

#include "errors/ComError.h"

#include <thread>

namespace crv {

class Apartment {
public:
    void Require() const {
        if (std::this_thread::get_id() != owner_) {
            Raise(hresult::kWrongThread, "CRVAnchor",
                  "The object was called from a thread other than the one that created it; it can only be used on "
                  "its own thread.");
        }
    }

private:
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace crv
