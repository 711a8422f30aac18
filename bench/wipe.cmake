# Vornix: the wipe engine beside shred on equal files.
if(TARGET vornix_engine)
  add_executable(vornix_wipe_bench ${CMAKE_CURRENT_LIST_DIR}/wipe_bench.cpp)
  target_link_libraries(vornix_wipe_bench PRIVATE vornix_engine)
endif()
