#pragma once
// The layout's atlas as the host's map series and as the companions that say which page is in
// force. Not for use outside qgis/host.

#include "qgis/host/HostCore.h"

#include <memory>

namespace crv::qgis {

// The class objects the host registers for its atlas: the map series frame, and the layout in
// force with its page (the atlas's current feature).
FunctionClassFactory::Maker AtlasSeriesMaker(std::weak_ptr<Core> core);
FunctionClassFactory::Maker AtlasInForceMaker(std::weak_ptr<Core> core);
FunctionClassFactory::Maker AtlasPageMaker(std::weak_ptr<Core> core);

}  // namespace crv::qgis
