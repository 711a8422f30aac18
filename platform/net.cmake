# Winsock names over POSIX sockets.
add_library(zeyla_net STATIC ${CMAKE_CURRENT_LIST_DIR}/net.cpp)
target_include_directories(zeyla_net PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(platform_net_tests ${CMAKE_CURRENT_LIST_DIR}/tests/net_test.cpp)
target_link_libraries(platform_net_tests PRIVATE zeyla_net GTest::gtest_main Threads::Threads)
gtest_discover_tests(platform_net_tests TEST_PREFIX platform_net. DISCOVERY_TIMEOUT 30)
