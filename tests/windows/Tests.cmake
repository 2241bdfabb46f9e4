# The Windows tests, run under Wine by ctest in the Windows build. The scripts that drive them
# run on this machine: named by their path, since ctest would run a target through Wine.
set(CRV_WINE_RUN ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-run.sh)
add_test(NAME windows_registration
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/registration_test.py
          ${CRV_WINE_RUN} $<TARGET_FILE:CRVAnchor> $<TARGET_FILE:crvcategories>
          ${CRV_DESCRIPTION})
set_tests_properties(windows_registration PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# The engine's own tests on this platform: the standalone host's objects built for Windows, the
# engine, the runtime's values and errors, and the platform's regional settings.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_library(crvhostobjects_win STATIC
  support/Faults.cpp
  support/MessageText.cpp
  objects/Geometry.cpp
  objects/PropertyBag.cpp
  objects/SeriesData.cpp
  objects/SheetIndex.cpp
  standalone/host/CategoryRegistrar.cpp
  standalone/host/Layout.cpp
  standalone/host/Series.cpp
  standalone/host/StandaloneHost.cpp)
# Every module built on them here crosses COM: the tests, the test host and its book.
target_link_libraries(crvhostobjects_win PUBLIC crvanchor_core crvboundary)
crv_warnings(crvhostobjects_win)
file(GLOB CRV_WIN_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/anchor/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/errors/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/com/variant_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/*_test.cpp)
add_executable(crv_win_tests ${CRV_WIN_TEST_SOURCES})
target_include_directories(crv_win_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
# Paths as the tests see them under Wine, through its drive for the root folder.
target_compile_definitions(crv_win_tests PRIVATE CRV_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}"
  CRV_WIN_LIBRARY="Z:$<TARGET_FILE:CRVAnchor>")
add_dependencies(crv_win_tests CRVAnchor)
target_link_libraries(crv_win_tests PRIVATE crvhostobjects_win crvanchor_registration gtest_main gmock)
target_link_options(crv_win_tests PRIVATE -static)
crv_warnings(crv_win_tests)
add_test(NAME windows_engine_tests COMMAND crv_win_tests --gtest_brief=1)
set_tests_properties(windows_engine_tests PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# A program that calls the registered library through the platform's object runtime.
add_executable(crv_win_com_tests tests/windows/com_client/com_client_test.cpp)
target_include_directories(crv_win_com_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(crv_win_com_tests PRIVATE crvhostobjects_win gtest_main)
target_link_options(crv_win_com_tests PRIVATE -static)
crv_warnings(crv_win_com_tests)
add_dependencies(crv_win_com_tests CRVAnchor)
add_test(NAME windows_register COMMAND ${CRV_WINE_RUN} regsvr32 /s $<TARGET_FILE:CRVAnchor>)
add_test(NAME windows_unregister COMMAND ${CRV_WINE_RUN} regsvr32 /s /u $<TARGET_FILE:CRVAnchor>)
add_test(NAME windows_com_client COMMAND crv_win_com_tests --gtest_brief=1)
set_tests_properties(windows_register PROPERTIES FIXTURES_SETUP registered DEPENDS windows_registration)
set_tests_properties(windows_unregister PROPERTIES FIXTURES_CLEANUP registered)
set_tests_properties(windows_com_client PROPERTIES FIXTURES_REQUIRED registered)
set_tests_properties(windows_register windows_unregister windows_com_client PROPERTIES
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# A program on the object runtime alone, without the COM boundary: a class of another module is
# refused with the reason.
add_executable(crv_win_runtime_alone_tests tests/windows/runtime_alone/runtime_alone_test.cpp)
target_link_libraries(crv_win_runtime_alone_tests PRIVATE crvcom gtest_main)
target_link_options(crv_win_runtime_alone_tests PRIVATE -static)
crv_warnings(crv_win_runtime_alone_tests)
add_test(NAME windows_runtime_alone COMMAND crv_win_runtime_alone_tests --gtest_brief=1)
set_tests_properties(windows_runtime_alone PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# The bundled map book anchored through real COM calls: the component and the standalone host
# as two in-process servers, a book that reaches both through COM alone, and its report
# compared rectangle by rectangle with the Linux book's. The Linux build writes the host's
# snapshot and the report to compare with.
include(standalone/windows/TestHost.cmake)
set(CRV_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build CACHE PATH "The Linux build, for the sample book's snapshot and report")
add_test(NAME windows_sample_book
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/sample_book_test.py
          ${CRV_WINE_RUN} ${CRV_LINUX_BUILD} ${CMAKE_CURRENT_SOURCE_DIR}/samples/lakes_atlas.json
          $<TARGET_FILE:CRVAnchor> $<TARGET_FILE:CRVAnchorTestHost> $<TARGET_FILE:crvanchor-book>
          ${CMAKE_BINARY_DIR}/sample-book $<TARGET_FILE:crv_host_mta_test>)
set_tests_properties(windows_sample_book PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# The sample script under the platform's script host, its output compared with its transcript:
# the component and the test host registered, the host holding the sample's snapshot.
set(CRV_SCRIPT_DIR ${CMAKE_BINARY_DIR}/script)
add_test(NAME windows_script_setup COMMAND bash -c
  "mkdir -p '${CRV_SCRIPT_DIR}' && '${CRV_LINUX_BUILD}/crvanchor-snapshot' '${PROJECT_SOURCE_DIR}/samples/lakes_atlas.json' '${CRV_SCRIPT_DIR}/lakes.json' && '${CRV_WINE_RUN}' regsvr32 /s '$<TARGET_FILE:CRVAnchor>' && '${CRV_WINE_RUN}' regsvr32 /s '$<TARGET_FILE:CRVAnchorTestHost>'")
add_test(NAME windows_script_cleanup COMMAND bash -c
  "'${CRV_WINE_RUN}' regsvr32 /s /u '$<TARGET_FILE:CRVAnchorTestHost>' && '${CRV_WINE_RUN}' regsvr32 /s /u '$<TARGET_FILE:CRVAnchor>'")
add_test(NAME windows_script_transcript
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/script_transcript_test.sh ${CRV_WINE_RUN}
          ${PROJECT_SOURCE_DIR}/samples/windows/anchor_element.vbs ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/anchor_element.transcript)
set_tests_properties(windows_script_setup PROPERTIES FIXTURES_SETUP scripting DEPENDS windows_sample_book)
set_tests_properties(windows_script_cleanup PROPERTIES FIXTURES_CLEANUP scripting)
set_tests_properties(windows_script_transcript PROPERTIES FIXTURES_REQUIRED scripting)
# Under Wine the root folder is drive Z:.
set(CRV_SCRIPT_LAYOUT "Z:${CRV_SCRIPT_DIR}/lakes.json")
set_tests_properties(windows_script_setup windows_script_cleanup PROPERTIES
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
set_tests_properties(windows_script_transcript PROPERTIES
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;CRVANCHOR_TEST_LAYOUT=${CRV_SCRIPT_LAYOUT}")

# Snapshots the test host cannot hold, each refused with its result and reason to a script and
# to the book; the deepest a map document may hold reads.
add_test(NAME windows_snapshot_refusals
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/snapshot_refusal_test.py
          ${CRV_WINE_RUN} ${CRV_LINUX_BUILD} ${CMAKE_CURRENT_SOURCE_DIR}/samples/lakes_atlas.json
          $<TARGET_FILE:crvanchor-book> ${CMAKE_BINARY_DIR}/snapshot-refusals)
set_tests_properties(windows_snapshot_refusals PROPERTIES FIXTURES_REQUIRED scripting
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")

# The portable core's conformance suite, the Linux one's source, against crvanchor_core.dll:
# the sample book's layout and report come from the Linux programs.
set(CRV_CORE_DIR ${CMAKE_BINARY_DIR}/core-conformance)
add_test(NAME windows_core_inputs COMMAND bash -c
  "mkdir -p \"$0\" && \"$1/crvanchor-snapshot\" \"$2\" \"$0/snapshot.json\" && export CRVANCHOR_REGISTRY=\"$0/registry.db\" && \"$1/crvinstall\" \"$1/libCRVAnchor.so\" >/dev/null && \"$1/crvanchor\" book \"$2\" --report \"$0/book-report.json\" >/dev/null && \"$1/crvanchor-pagecapture\" --states \"$2\" \"$0/form-states.json\""
  ${CRV_CORE_DIR} ${CRV_LINUX_BUILD} ${PROJECT_SOURCE_DIR}/samples/lakes_atlas.json)
set_tests_properties(windows_core_inputs PROPERTIES FIXTURES_SETUP windows_core_inputs)
add_executable(crv_win_core_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/core/conformance_test.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/tests/core/form_test.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/tests/core/records_test.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/tests/core/description_test.cpp)
target_include_directories(crv_win_core_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(crv_win_core_tests SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/core/json)
target_link_libraries(crv_win_core_tests PRIVATE crvcore gtest_main)
target_link_options(crv_win_core_tests PRIVATE -static)
crv_warnings(crv_win_core_tests)
add_test(NAME windows_core_conformance COMMAND crv_win_core_tests --gtest_brief=1)
set_tests_properties(windows_core_conformance PROPERTIES FIXTURES_REQUIRED windows_core_inputs
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;CRV_CORE_WORK=Z:${CRV_CORE_DIR}")
# The DLL exports its C interface alone and needs nothing but the system's own libraries.
add_test(NAME windows_core_exports COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/scripts/core_exports_test.sh
         $<TARGET_FILE:crvcore> ${PROJECT_SOURCE_DIR}/core/crvanchor_core.h)

# The type libraries as the platform's own reader finds them, compared with the interfaces'
# description item by item; and the host's properties read by a script language that asks
# for them as properties alone (JScript).
add_executable(crv_typelib_dump tests/windows/typelib/typelib_dump.cpp)
target_link_libraries(crv_typelib_dump PRIVATE oleaut32 ole32)
target_link_options(crv_typelib_dump PRIVATE -static -municode)
crv_warnings(crv_typelib_dump)
add_test(NAME windows_type_libraries
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/typelib_test.py ${CRV_WINE_RUN}
          $<TARGET_FILE:crv_typelib_dump> $<TARGET_FILE:CRVAnchor> $<TARGET_FILE:CRVAnchorTestHost> ${CRV_DESCRIPTION}
          ${CRV_CATEGORIES})
add_test(NAME windows_script_properties
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/script_transcript_test.sh ${CRV_WINE_RUN}
          ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/host_properties.js ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/host_properties.transcript)
set_tests_properties(windows_type_libraries windows_script_properties PROPERTIES FIXTURES_REQUIRED scripting
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;CRVANCHOR_TEST_LAYOUT=${CRV_SCRIPT_LAYOUT}")

# A client of another apartment reaching the test host's objects, and the component's page
# through the page interface, run by the sample book's test once the component is unregistered:
# the host's interfaces are marshaled from the host's own type library, which it registers.
add_executable(crv_host_mta_test tests/windows/typelib/host_mta_test.cpp)
target_include_directories(crv_host_mta_test SYSTEM PRIVATE ${CRV_WIN_GENERATED} ${CRV_GENERATED})
target_link_libraries(crv_host_mta_test PRIVATE crvcom ole32 oleaut32)
target_link_options(crv_host_mta_test PRIVATE -static)
add_dependencies(crv_host_mta_test crvboundary crvanchor_registration)
crv_warnings(crv_host_mta_test)
