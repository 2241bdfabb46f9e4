# The Windows tests, run under Wine by ctest in the Windows build. The scripts that drive them
# run on this machine: named by their path, since ctest would run a target through Wine.
set(CRV_WINE_RUN ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-run.sh)
add_test(NAME windows_registration
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/registration_test.py
          ${CRV_WINE_RUN} $<TARGET_FILE:CRVAnchor> $<TARGET_FILE:crvcategories>
          ${CMAKE_CURRENT_SOURCE_DIR}/registration/CRVAnchor.typelib.json ${CRV_WIN_GENERATED}/CRVAnchor.idl)
set_tests_properties(windows_registration PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
