# The Windows platform layer of the object runtime, chosen instead of the POSIX one.
target_sources(crvcom PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ClassLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ErrorSink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Regional.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Text.cpp
)
target_link_libraries(crvcom PUBLIC ole32 oleaut32 uuid version)
# Unicode entry points throughout; nothing of the old window and socket headers.
target_compile_definitions(crvcom PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
