# find_duplicates against fdupes and jdupes on real folders, the whole system and a generated tree, and on multicollision buckets.
if(TARGET gemmit_engine)
  add_executable(duplicates_bench ${CMAKE_CURRENT_LIST_DIR}/duplicates_bench.cpp)
  target_link_libraries(duplicates_bench PRIVATE gemmit_engine zeyla_test_data)
endif()
