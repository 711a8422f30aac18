# Lumeno: the search engine beside grep -rli and find -iname on one generated tree.
if(TARGET lumeno_engine)
  add_executable(lumeno_search_bench ${CMAKE_CURRENT_LIST_DIR}/search_bench.cpp)
  target_link_libraries(lumeno_search_bench PRIVATE lumeno_engine)
endif()
# Lumeno's duplicate filter against its former one-file-at-a-time hashing.
if(TARGET lumeno_engine)
  add_executable(duplicates_filter_bench ${CMAKE_CURRENT_LIST_DIR}/duplicates_filter_bench.cpp)
  target_link_libraries(duplicates_filter_bench PRIVATE lumeno_engine)
endif()
