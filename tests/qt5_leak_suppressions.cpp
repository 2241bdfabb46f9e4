// The Qt 5 offscreen platform, the GIS libraries and the cryptography library they start keep
// objects until the process ends, also when a test binary only lists its tests (which runs
// without the suite's suppression file): the leak checker is told so from inside the Qt 5 test
// binaries. Only those libraries' own allocations.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt5Gui.so\nleak:libQt5Core.so\nleak:libQt5Widgets.so\nleak:libqoffscreen.so\nleak:libfontconfig.so."
           "1\nleak:libqgis_core.so\nleak:libqgis_gui.so\nleak:libcrypto.so\n";
}
