// The QGIS suites run a real QgsApplication on Qt's offscreen platform, with a profile
// folder of their own.

#include <gtest/gtest.h>

#include <qgsapplication.h>

#include <QDir>
#include <QTemporaryDir>

// QGIS frees little of what it makes at exit; leak checks stay with the other suites. Set
// here, so that listing the tests (without ctest's environment) passes too.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir profile;
    qputenv("QGIS_CUSTOM_CONFIG_PATH", profile.path().toUtf8());
    QgsApplication application(argc, argv, true, profile.path());
    // Where QGIS's data providers (PostGIS, ...) are installed.
    QgsApplication::setPrefixPath(QStringLiteral(SELVANE_QGIS_PREFIX), true);
    QgsApplication::initQgis();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    QgsApplication::exitQgis();
    return status;
}
