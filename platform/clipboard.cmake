# The clipboard: the Windows clipboard calls over the terminal's OSC 52.
target_sources(zeyla_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/clipboard.cpp ${CMAKE_CURRENT_LIST_DIR}/clipboard_tmux.cpp)
# Its writes and reads go through the descriptor helpers.
target_link_libraries(zeyla_platform PUBLIC zeyla_os)

add_executable(platform_clipboard_tests ${CMAKE_CURRENT_LIST_DIR}/tests/clipboard_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/clipboard_tmux_test.cpp)
target_link_libraries(platform_clipboard_tests PRIVATE zeyla_platform util GTest::gtest_main)
target_include_directories(platform_clipboard_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
gtest_discover_tests(platform_clipboard_tests TEST_PREFIX platform_clipboard. DISCOVERY_TIMEOUT 30)
