#include "errors/ErrorHandling.h"

namespace crv {

ErrorSink& PlatformErrorSink() {
    static StderrErrorSink sink;
    return sink;
}

}  // namespace crv
