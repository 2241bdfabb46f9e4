# The standalone host built for Windows as the platform's in-process server, and a book that
# reaches it and the component through COM alone. Included from the Windows tests, which build
# the host's objects for this platform (crvhostobjects_win).

# The JSON library is header-only: its folder alone is made reachable (CRV_JSON_INCLUDE, checked
# by windows/Windows.cmake), not all of the system's headers beside it.
file(MAKE_DIRECTORY ${CRV_WIN_GENERATED}/json)
file(CREATE_LINK ${CRV_JSON_INCLUDE}/nlohmann ${CRV_WIN_GENERATED}/json/nlohmann SYMBOLIC)

configure_file(${CMAKE_CURRENT_LIST_DIR}/TestHost.rc ${CRV_WIN_GENERATED}/TestHost.rc @ONLY)
add_library(CRVAnchorTestHost SHARED
  ${PROJECT_SOURCE_DIR}/standalone/host/Snapshot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestHost.cpp
  ${CRV_WIN_GENERATED}/TestHost.rc
  ${CMAKE_CURRENT_LIST_DIR}/TestHost.def)
set_target_properties(CRVAnchorTestHost PROPERTIES PREFIX "" OUTPUT_NAME CRVAnchorTestHost)
set_source_files_properties(${CRV_WIN_GENERATED}/TestHost.rc PROPERTIES OBJECT_DEPENDS ${CRV_WIN_GENERATED}/CRVAnchorHost.tlb)
target_include_directories(CRVAnchorTestHost SYSTEM PRIVATE ${CRV_WIN_GENERATED}/json)
target_link_libraries(CRVAnchorTestHost PRIVATE crvhostobjects_win crvanchor_registration)
target_link_options(CRVAnchorTestHost PRIVATE -static -static-libgcc -static-libstdc++)
crv_warnings(CRVAnchorTestHost)

# The book's selection and order, as every host runs them, built for this platform.
add_library(crvbook_win STATIC
  book/Measure.cpp
  book/Order.cpp
  book/Placement.cpp
  book/RecordText.cpp)
target_link_libraries(crvbook_win PUBLIC crvhostobjects_win)
crv_warnings(crvbook_win)
add_executable(crvanchor-book ${CMAKE_CURRENT_LIST_DIR}/book_main.cpp)
target_include_directories(crvanchor-book SYSTEM PRIVATE ${CRV_WIN_GENERATED}/json)
target_link_libraries(crvanchor-book PRIVATE crvbook_win)
target_link_options(crvanchor-book PRIVATE -static)
crv_warnings(crvanchor-book)
