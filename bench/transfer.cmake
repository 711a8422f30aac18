# send_file / receive_file over 127.0.0.1 beside a plain TCP copy of the same file.
if(TARGET tovrel_engine)
  add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
  target_link_libraries(transfer_bench PRIVATE tovrel_engine tovrel_catalog)
endif()
