# Corvane's largest request beside pwgen's secure mode on the same machine.
if(TARGET corvane_generator)
  add_executable(passgen_bench ${CMAKE_CURRENT_LIST_DIR}/passgen_bench.cpp)
  target_link_libraries(passgen_bench PRIVATE corvane_generator)
endif()
