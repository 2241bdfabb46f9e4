# The Windows page driven through its controls, and the program that shows it in a property
# sheet for the pictures of scripts/windows_page_screenshots.sh. Both make windows, so the test
# runs on a virtual screen.
add_executable(crv_win_page_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/page/page_test.cpp)
add_executable(crvanchor-pagecapture ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/page/pagecapture_main.cpp)
foreach(program crv_win_page_tests crvanchor-pagecapture)
  target_link_libraries(${program} PRIVATE crvanchor_propertypage crvhostobjects_win)
  target_link_options(${program} PRIVATE -static)
  crv_warnings(${program})
endforeach()
target_link_libraries(crv_win_page_tests PRIVATE crvanchor_registration gtest_main)
# It loads the library too, as a host does.
add_dependencies(crv_win_page_tests CRVAnchor)
target_compile_definitions(crv_win_page_tests PRIVATE CRV_LIBRARY_PATH="$<TARGET_FILE:CRVAnchor>")
add_test(NAME windows_page_tests
  COMMAND ${CRV_WINE_RUN} --on-screen $<TARGET_FILE:crv_win_page_tests> --gtest_brief=1)
set_tests_properties(windows_page_tests PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
