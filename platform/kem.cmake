# Kyber1024 through our liboqs-style layer, backed by a static Botan 3.
find_path(BOTAN_INCLUDE_DIR botan/kyber.h
  HINTS /opt/zeyla-botan/include/botan-3
  PATH_SUFFIXES botan-3)
find_library(BOTAN_LIBRARY NAMES libbotan-3.a botan-3
  HINTS /opt/zeyla-botan/lib)
if(NOT BOTAN_INCLUDE_DIR OR NOT BOTAN_LIBRARY)
  message(FATAL_ERROR "Botan 3 (with kyber) not found; run scripts/install-deps.sh")
endif()

add_library(zeyla_kem STATIC ${CMAKE_CURRENT_LIST_DIR}/kem.cpp)
target_include_directories(zeyla_kem PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# Botan's headers are not ours to keep warning-clean.
target_include_directories(zeyla_kem SYSTEM PRIVATE ${BOTAN_INCLUDE_DIR})
target_compile_features(zeyla_kem PUBLIC cxx_std_20)
target_link_libraries(zeyla_kem PRIVATE ${BOTAN_LIBRARY} Threads::Threads)

add_executable(platform_kem_tests ${CMAKE_CURRENT_LIST_DIR}/tests/kem_test.cpp)
target_link_libraries(platform_kem_tests PRIVATE zeyla_kem GTest::gtest_main)
gtest_discover_tests(platform_kem_tests TEST_PREFIX platform_kem. DISCOVERY_TIMEOUT 30)
