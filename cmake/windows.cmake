# The Windows build: a static upgrd_util.exe on the system's ICMP echo
# service and WinINet, and the unit tests that need no POSIX test bed,
# to run under Wine.

# Everything in the one executable, so that it runs on any Windows.
add_link_options(-static)
# Windows 7 and later: InetPton and friends.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN)

add_library(upgrd_core STATIC
  ${UPGRD_CORE_SOURCES}
  upgrd_util/platform/ftp_library_wininet.cc
  upgrd_util/platform/icmp_echo_win.cc
)
target_include_directories(upgrd_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(upgrd_core PUBLIC wininet iphlpapi ws2_32)

add_executable(upgrd_util upgrd_util/upgrd_util.cc)
target_link_libraries(upgrd_util PRIVATE upgrd_core)

add_executable(upgrd_util_fast_clock tests/fast_clock_main.cc)
target_link_libraries(upgrd_util_fast_clock PRIVATE upgrd_core)

# GoogleTest from Debian's sources, built for Windows.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                 EXCLUDE_FROM_ALL)

add_library(upgrd_testing STATIC
  upgrd_util/platform/test_doubles.cc
  tests/test_support.cc
)
target_link_libraries(upgrd_testing PUBLIC upgrd_core gtest)
target_compile_definitions(upgrd_testing PUBLIC
  UPGRD_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

add_executable(upgrd_tests
  upgrd_util/inputs/firmware_selection_test.cc
  upgrd_util/inputs/target_list_test.cc
  upgrd_util/modules/module_banner_test.cc
  upgrd_util/modules/module_version_test.cc
  upgrd_util/output/result_log_test.cc
  upgrd_util/platform/console_test.cc
  upgrd_util/card/probe_test.cc
  upgrd_util/run/upgrade_target_test.cc
)
target_link_libraries(upgrd_tests PRIVATE upgrd_testing gtest_main)
