# The random source: BCryptGenRandom over the kernel's getrandom.
target_sources(zeyla_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/random.cpp)

add_executable(platform_random_tests ${CMAKE_CURRENT_LIST_DIR}/tests/random_test.cpp)
target_link_libraries(platform_random_tests PRIVATE zeyla_platform GTest::gtest_main)
gtest_discover_tests(platform_random_tests TEST_PREFIX platform_random. DISCOVERY_TIMEOUT 30)
