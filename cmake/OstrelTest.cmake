# ostrel_add_test(NAME name SOURCES ... LIBS ...)
# One GoogleTest executable, its cases registered with CTest one by one.
# Every case runs headless: Qt gets the offscreen platform and a runtime dir.
set(OSTREL_TEST_RUNTIME_DIR ${CMAKE_BINARY_DIR}/xdg-runtime)
file(MAKE_DIRECTORY ${OSTREL_TEST_RUNTIME_DIR})
file(CHMOD ${OSTREL_TEST_RUNTIME_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(ostrel_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      TIMEOUT 120
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${OSTREL_TEST_RUNTIME_DIR};TSAN_OPTIONS=ignore_noninstrumented_modules=1 halt_on_error=1;ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1 halt_on_error=1")
endfunction()
