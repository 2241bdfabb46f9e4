// The QGIS tests run in one headless QGIS application with the Qt 5 component loaded.
#include "qgis/host/QgisHost.h"

#include <gtest/gtest.h>
#include <qgsapplication.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no QGIS: nothing of it is started for that.
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    QgsApplication app(argc, argv, false);
    QgsApplication::initQgis();
    crv::qgis::LoadComponent(CRV_QT5_LIBRARY_PATH);
    const int status = RUN_ALL_TESTS();
    QgsApplication::exitQgis();
    return status;
}
