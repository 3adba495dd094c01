# Host build of the portable core.

if(TOVIRA_BENCH)
  # Same optimisation as the DLL (see Windows.cmake), so benchmark ratios say something about the product.
  set(TOVIRA_CORE_FLAGS -O2 -msse2 -DNDEBUG)
else()
  set(TOVIRA_CORE_FLAGS -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(tovira_portable STATIC ${TOVIRA_PORTABLE_SOURCES})
target_include_directories(tovira_portable PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
target_compile_options(tovira_portable PRIVATE ${TOVIRA_WARNINGS} ${TOVIRA_CORE_FLAGS})

if(NOT TOVIRA_BENCH)
  add_compile_options(${TOVIRA_CORE_FLAGS})
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
  add_executable(native_tests ${NATIVE_TEST_SOURCES})
  target_compile_options(native_tests PRIVATE ${TOVIRA_WARNINGS})
  target_link_libraries(native_tests PRIVATE tovira_portable GTest::gtest_main GTest::gmock)
  add_test(NAME native COMMAND native_tests)
  set_tests_properties(native PROPERTIES ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
else()
  find_package(benchmark REQUIRED)
  find_package(OpenCV REQUIRED COMPONENTS core imgproc)
  file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  add_executable(pixel_bench ${BENCH_SOURCES})
  target_compile_options(pixel_bench PRIVATE ${TOVIRA_CORE_FLAGS})
  target_include_directories(pixel_bench PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(pixel_bench PRIVATE tovira_portable benchmark::benchmark_main ${OpenCV_LIBS})
endif()
