# The random source: BCryptGenRandom over the kernel's getrandom; no curses,
# so the password generator's engine links it alone.
add_library(zeyla_random STATIC ${CMAKE_CURRENT_LIST_DIR}/random.cpp)
target_include_directories(zeyla_random PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(platform_random_tests ${CMAKE_CURRENT_LIST_DIR}/tests/random_test.cpp)
target_link_libraries(platform_random_tests PRIVATE zeyla_random GTest::gtest_main)
gtest_discover_tests(platform_random_tests TEST_PREFIX platform_random. DISCOVERY_TIMEOUT 30)
