# Start-up of the programs. `skarv_startup` holds the plain pieces every
# program shares (options, the display check, the choice of sensor source:
# the virtual sensor or a recording played back);
# `skarv_client` adds the two windows, their threads and an orderly end on a
# window close or a signal. Included from the top level once the windows'
# library exists.
add_library(skarv_startup STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ClientOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SharedOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReplaySetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VirtualSensorSetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DdsFrontEnd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SubscribeSetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorListing.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/Version.cpp
)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/Version.cpp @ONLY)
target_include_directories(skarv_startup PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(skarv_startup PUBLIC skarv_datapath skarv_playback skarv_backends skarv_dds skarv_mcap)

add_library(skarv_client STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ClientRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuitOnSignal.cpp
)
target_include_directories(skarv_client PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(skarv_client PUBLIC skarv_startup skarv_ui)

add_executable(skarv-client ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(skarv-client PRIVATE skarv_client)
install(TARGETS skarv-client RUNTIME DESTINATION bin)
