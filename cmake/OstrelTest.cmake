# ostrel_add_test(NAME name SOURCES ... LIBS ...)
# One GoogleTest executable, its cases registered with CTest one by one; it may use the tests'
# support library (tests/support).
# Every case runs headless: Qt gets the offscreen platform and a runtime dir,
# and the sanitizers stop at their first report.
set(OSTREL_TEST_RUNTIME_DIR ${CMAKE_BINARY_DIR}/xdg-runtime)
file(MAKE_DIRECTORY ${OSTREL_TEST_RUNTIME_DIR})
file(CHMOD ${OSTREL_TEST_RUNTIME_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# The environment of every test; sanitizer options are ':'-separated, values hold no blanks.
set(OSTREL_TEST_ENVIRONMENT
  QT_QPA_PLATFORM=offscreen
  XDG_RUNTIME_DIR=${OSTREL_TEST_RUNTIME_DIR}
  TSAN_OPTIONS=ignore_noninstrumented_modules=1:halt_on_error=1
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

function(ostrel_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ostrel_test_support GTest::gtest GTest::gtest_main
    Threads::Threads)
  # A list-valued ENVIRONMENT does not survive gtest_discover_tests' PROPERTIES (it is split
  # into separate arguments); `cmake -E env` in front of the test program carries it whole,
  # for the discovery and for every case.
  set_property(TARGET ${T_NAME} PROPERTY CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ${OSTREL_TEST_ENVIRONMENT})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120)
endfunction()
