// The plugin's tests run inside a desktop GIS application object with widgets, without a screen.
#include <qgsapplication.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QgsApplication app(argc, argv, true);
    QgsApplication::initQgis();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    QgsApplication::exitQgis();
    return status;
}
