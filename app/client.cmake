# Start-up of the program: options, the virtual sensor for --simulate, the
# two windows and their threads, and an orderly end on a window close or a
# signal. Included from the top level once the windows' library exists.
add_library(skarv_client STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ClientOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClientRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuitOnSignal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VirtualSensorSetup.cpp
)
target_include_directories(skarv_client PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(skarv_client PUBLIC skarv_ui skarv_backends)

add_executable(skarv-client ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(skarv-client PRIVATE skarv_client)
install(TARGETS skarv-client RUNTIME DESTINATION bin)
