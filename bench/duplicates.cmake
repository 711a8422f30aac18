# find_duplicates against fdupes and jdupes on one generated tree.
if(TARGET gemmit_engine)
  add_executable(duplicates_bench ${CMAKE_CURRENT_LIST_DIR}/duplicates_bench.cpp)
  target_link_libraries(duplicates_bench PRIVATE gemmit_engine)
endif()
