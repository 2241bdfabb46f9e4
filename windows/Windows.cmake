# The Windows build: the component as the platform's in-process server, CRVAnchor.dll, with its
# type library inside, and its tests, run under Wine. Included from the top-level file so that
# the generated type-library sources are built here too.

# The COM boundary: IDL, the C++ declarations widl makes of it, the type library and the
# wrappers, all generated from the interfaces' description.
set(CRV_WIN_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/generated-win)
find_program(CRV_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
set(CRV_WIDL_INCLUDE /usr/include/wine/wine/windows CACHE PATH "Where widl finds the platform's IDL files")
set(CRV_WIDL_LIBRARIES /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Where widl finds stdole2.tlb")
crv_generate(idl-host ${CRV_WIN_GENERATED}/CRVAnchorHost.idl)
crv_generate(idl ${CRV_WIN_GENERATED}/CRVAnchor.idl)
crv_generate(boundary-header ${CRV_WIN_GENERATED}/Boundary.h)
crv_generate(boundary-source ${CRV_WIN_GENERATED}/Boundary.cpp)
# The host's library first: the component's imports it (its declarations and its type library).
set(CRV_WIDL_RUN ${CRV_WIDL} -m64 -I${CRV_WIDL_INCLUDE} -I${CRV_WIN_GENERATED} -L${CRV_WIDL_LIBRARIES} -L${CRV_WIN_GENERATED})
add_custom_command(
  OUTPUT ${CRV_WIN_GENERATED}/CRVAnchorHost.h ${CRV_WIN_GENERATED}/CRVAnchorHost.tlb
  COMMAND ${CRV_WIDL_RUN} -h -o ${CRV_WIN_GENERATED}/CRVAnchorHost.h ${CRV_WIN_GENERATED}/CRVAnchorHost.idl
  COMMAND ${CRV_WIDL_RUN} -t -o ${CRV_WIN_GENERATED}/CRVAnchorHost.tlb ${CRV_WIN_GENERATED}/CRVAnchorHost.idl
  DEPENDS ${CRV_WIN_GENERATED}/CRVAnchorHost.idl
  COMMENT "Compiling the host's type library")
add_custom_command(
  OUTPUT ${CRV_WIN_GENERATED}/CRVAnchorCom.h ${CRV_WIN_GENERATED}/CRVAnchor.tlb
  COMMAND ${CRV_WIDL_RUN} -h -o ${CRV_WIN_GENERATED}/CRVAnchorCom.h ${CRV_WIN_GENERATED}/CRVAnchor.idl
  COMMAND ${CRV_WIDL_RUN} -t -o ${CRV_WIN_GENERATED}/CRVAnchor.tlb ${CRV_WIN_GENERATED}/CRVAnchor.idl
  DEPENDS ${CRV_WIN_GENERATED}/CRVAnchor.idl ${CRV_WIN_GENERATED}/CRVAnchorHost.h ${CRV_WIN_GENERATED}/CRVAnchorHost.tlb
  COMMENT "Compiling the type library")

add_library(crvboundary STATIC
  windows/boundary/Activation.cpp
  windows/boundary/ClassObject.cpp
  windows/boundary/Errors.cpp
  windows/boundary/Identity.cpp
  windows/boundary/LateBinding.cpp
  windows/boundary/Values.cpp
  windows/platform/PlatformClasses.cpp
  ${CRV_WIN_GENERATED}/Boundary.cpp
  ${CRV_WIN_GENERATED}/Boundary.h
  ${CRV_WIN_GENERATED}/CRVAnchorCom.h
  ${CRV_WIN_GENERATED}/CRVAnchorHost.h
  ${CRV_GENERATED}/CRVAnchorTypeLib.h)
# widl's declarations are the platform's style, not ours: read as system headers.
target_include_directories(crvboundary SYSTEM PUBLIC ${CRV_WIN_GENERATED})
target_include_directories(crvboundary PUBLIC ${CRV_GENERATED})
target_link_libraries(crvboundary PUBLIC crvcom)
# The boundary is built on the runtime and gives it the way to classes of other modules as its
# module starts (Activation.cpp), which nothing refers to: every module that links the boundary
# keeps it. The runtime does not link the boundary back.
target_link_options(crvboundary INTERFACE LINKER:--undefined=crv_foreign_classes_installed)
crv_warnings(crvboundary)
# The platform's interfaces have no virtual destructor by design: an object deletes itself in
# Release. Every class that implements one would warn.
target_compile_options(crvboundary PUBLIC -Wno-non-virtual-dtor)

# The component's classes and their registration.
add_library(crvanchor_registration STATIC
  registration/CategoryClasses.cpp
  registration/LibraryObjects.cpp
  registration/LibraryClasses.cpp
  windows/platform/LibraryPath.cpp
  windows/platform/VersionRecord.cpp
  ${CRV_GENERATED}/CRVAnchorTypeLib.cpp)
target_include_directories(crvanchor_registration PUBLIC ${CRV_GENERATED})
target_link_libraries(crvanchor_registration PUBLIC crvanchor_core crvboundary)
crv_warnings(crvanchor_registration)

# The property page over the platform's own controls.
include(windows/page/Page.cmake)

# The library: one file with its C++ runtime inside, its type library and version resource.
configure_file(windows/component/CRVAnchor.rc ${CRV_WIN_GENERATED}/CRVAnchor.rc @ONLY)
add_library(CRVAnchor SHARED
  windows/component/Library.cpp
  ${CRV_GENERATED}/LibraryPropertyPage.h
  ${CRV_WIN_GENERATED}/CRVAnchor.rc
  windows/component/CRVAnchor.def)
set_target_properties(CRVAnchor PROPERTIES PREFIX "" OUTPUT_NAME CRVAnchor)
set_source_files_properties(${CRV_WIN_GENERATED}/CRVAnchor.rc PROPERTIES OBJECT_DEPENDS ${CRV_WIN_GENERATED}/CRVAnchor.tlb)
target_link_libraries(CRVAnchor PRIVATE crvanchor_registration crvanchor_propertypage)
target_link_options(CRVAnchor PRIVATE -static -static-libgcc -static-libstdc++)
crv_warnings(CRVAnchor)

# A category listing through the platform's category manager.
add_executable(crvcategories windows/tools/crvcategories_main.cpp)
target_link_libraries(crvcategories PRIVATE crvcom)
target_link_options(crvcategories PRIVATE -static)
crv_warnings(crvcategories)

# The portable core, crvanchor_core.dll, from the same sources as on Linux.
set(CRV_JSON_INCLUDE /usr/include CACHE PATH "The folder that holds nlohmann/json.hpp")
if(NOT EXISTS ${CRV_JSON_INCLUDE}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp is not in CRV_JSON_INCLUDE (${CRV_JSON_INCLUDE})")
endif()
add_subdirectory(core)
add_dependencies(crvcore crv_host_headers)

if(CRV_BUILD_TESTS)
  enable_testing()
  include(tests/windows/Tests.cmake)
  include(tests/windows/page/PageTests.cmake)
  # The tests share one Wine prefix, its registry and its desktop: one at a time, whatever -j.
  get_property(crv_windows_tests DIRECTORY PROPERTY TESTS)
  set_tests_properties(${crv_windows_tests} PROPERTIES RESOURCE_LOCK wineprefix)
endif()
