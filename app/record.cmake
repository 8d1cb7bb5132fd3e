# skarv-record, the recorder without windows: its command line over the
# plain start-up pieces and the recorder's front end. No Qt.
add_library(skarv_record STATIC
  ${CMAKE_CURRENT_LIST_DIR}/RecordOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigFile.cpp
)
target_include_directories(skarv_record PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(skarv_record PUBLIC skarv_startup skarv_recorder skarv_mcap)

add_executable(skarv-record ${CMAKE_CURRENT_LIST_DIR}/record_main.cpp)
target_link_libraries(skarv-record PRIVATE skarv_record)
install(TARGETS skarv-record RUNTIME DESTINATION bin)
