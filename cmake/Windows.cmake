# Windows build: the DLL, its import libraries, the sample programs and the Windows tests (run under Wine).

set(TOVIRA_THIRDPARTY_DIR ${CMAKE_SOURCE_DIR}/.cache/thirdparty/install CACHE PATH
    "zlib-using image libraries cross-built by scripts/build-thirdparty.sh")
foreach(lib png16 jpeg tiff)
  if(NOT EXISTS ${TOVIRA_THIRDPARTY_DIR}/lib/lib${lib}.a)
    message(FATAL_ERROR "lib${lib}.a missing in ${TOVIRA_THIRDPARTY_DIR}: run scripts/build-thirdparty.sh")
  endif()
endforeach()
add_library(tovira_imagelibs INTERFACE)
target_include_directories(tovira_imagelibs INTERFACE ${TOVIRA_THIRDPARTY_DIR}/include)
target_link_libraries(tovira_imagelibs INTERFACE
  ${TOVIRA_THIRDPARTY_DIR}/lib/libtiff.a
  ${TOVIRA_THIRDPARTY_DIR}/lib/libpng16.a
  ${TOVIRA_THIRDPARTY_DIR}/lib/libjpeg.a
  ${TOVIRA_THIRDPARTY_DIR}/lib/libdeflate.a
  /usr/x86_64-w64-mingw32/lib/libz.a)

# Self-contained binaries: the C++ runtime, libgcc and winpthread are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_options(-O2 -msse2)
# The AVX2 and AVX-512 kernels (pipeline/*Avx2.cpp, *Avx512.cpp, run only after a CPU check): GCC may
# spill 32- and 64-byte vectors with
# aligned moves, but 64-bit Windows aligns the stack to 16 bytes only; the assembler makes them unaligned.
file(GLOB TOVIRA_AVX2_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/pipeline/*Avx2.cpp ${CMAKE_SOURCE_DIR}/pipeline/*Avx512.cpp)
set_source_files_properties(${TOVIRA_AVX2_SOURCES} PROPERTIES COMPILE_OPTIONS -Wa,-muse-unaligned-vector-move)
set(TOVIRA_SYSTEM_LIBS user32 gdi32 comctl32 comdlg32 winmm advapi32 kernel32)

file(GLOB TOVIRA_WIN_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/api/*.cpp
  ${CMAKE_SOURCE_DIR}/camera/*.cpp
  ${CMAKE_SOURCE_DIR}/device/*.cpp
  ${CMAKE_SOURCE_DIR}/output/*.cpp
  ${CMAKE_SOURCE_DIR}/dialogs/*.cpp)
list(REMOVE_DUPLICATES TOVIRA_WIN_SOURCES)
list(APPEND TOVIRA_WIN_SOURCES ${TOVIRA_PORTABLE_SOURCES})
list(REMOVE_DUPLICATES TOVIRA_WIN_SOURCES)

# Everything of the library, once; the DLL and the white-box tests both use these objects.
add_library(tovira_core OBJECT ${TOVIRA_WIN_SOURCES})
target_include_directories(tovira_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(tovira_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(tovira_core PRIVATE ${TOVIRA_WARNINGS})
target_link_libraries(tovira_core PUBLIC tovira_imagelibs ${TOVIRA_SYSTEM_LIBS})

file(GLOB TOVIRA_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/api/*.rc ${CMAKE_SOURCE_DIR}/dialogs/*.rc)
add_library(ToviraSdk_Z400KX SHARED $<TARGET_OBJECTS:tovira_core> ${TOVIRA_RESOURCES}
  ${CMAKE_SOURCE_DIR}/api/ToviraSdk_Z400KX.def)
set_target_properties(ToviraSdk_Z400KX PROPERTIES PREFIX "" OUTPUT_NAME ToviraSdk_Z400KX
  IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
target_link_libraries(ToviraSdk_Z400KX PRIVATE tovira_imagelibs ${TOVIRA_SYSTEM_LIBS})
target_link_options(ToviraSdk_Z400KX PRIVATE -Wl,--kill-at)
target_include_directories(ToviraSdk_Z400KX PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)  # for the resources

# MSVC import library from the same .def.
add_custom_command(TARGET ToviraSdk_Z400KX POST_BUILD
  COMMAND x86_64-w64-mingw32-dlltool -d ${CMAKE_SOURCE_DIR}/api/ToviraSdk_Z400KX.def
          -D ToviraSdk_Z400KX.dll -l ${CMAKE_BINARY_DIR}/lib/ToviraSdk_Z400KX.lib
  VERBATIM)

# Wine as the test emulator: private prefix in the build tree, no debug chatter, Xvfb when no display.
set(TOVIRA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# White-box tests: the library's objects linked into the test program.
file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
if(WIN_TEST_SOURCES)
  # With the black-box tests' AVI reader, which shares no code with the writer.
  add_executable(win_tests ${WIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/dll/AviCheck.cpp $<TARGET_OBJECTS:tovira_core>)
  target_include_directories(win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/dll)
  target_link_libraries(win_tests PRIVATE tovira_core GTest::gtest_main GTest::gmock)
  add_test(NAME win COMMAND win_tests --gtest_filter=-Env*)
  # Registry and display are shared by every Wine process of the prefix.
  set_tests_properties(win PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 1800)
endif()

# Black-box tests: the DLL as users get it (public header, import library, LoadLibrary).
file(GLOB DLL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/dll/*.cpp)
if(DLL_TEST_SOURCES)
  add_executable(dll_tests ${DLL_TEST_SOURCES})
  target_include_directories(dll_tests PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/tests/dll)
  target_link_libraries(dll_tests PRIVATE ToviraSdk_Z400KX tovira_imagelibs GTest::gtest_main ${TOVIRA_SYSTEM_LIBS})
  target_compile_definitions(dll_tests PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  # Suites whose names begin with "Env" need another environment (other virtual camera slots, pacing,
  # faults, locale) and run only in their own entries, added with tovira_wine_test.
  add_test(NAME dll COMMAND dll_tests --gtest_filter=-Env*)
  set_tests_properties(dll PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 1800
    ENVIRONMENT "TOVIRA_VIRTUAL_CAMERAS=0;TOVIRA_VIRTUAL_PACE=fast")
endif()

# tovira_wine_test(<test name> <program target> <gtest filter> [VAR=value ...]): one more CTest entry for
# a filtered run of a Windows test program with its own environment.
function(tovira_wine_test name target filter)
  add_test(NAME ${name} COMMAND ${target} --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 1800 ENVIRONMENT "${ARGN}")
endfunction()
if(EXISTS ${CMAKE_SOURCE_DIR}/dshow/CMakeLists.txt)
  add_subdirectory(dshow)  # before the test list: its entries name dshow_tests
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine-tests.cmake)
  include(${CMAKE_SOURCE_DIR}/tests/wine-tests.cmake)
endif()

# A plain C program built against the public header and the import library alone.
enable_language(C)
add_executable(header_in_c ${CMAKE_SOURCE_DIR}/tests/c/HeaderInC.c)
set_target_properties(header_in_c PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(header_in_c PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_options(header_in_c PRIVATE -Wall -Wextra -pedantic -Werror)
target_link_libraries(header_in_c PRIVATE ToviraSdk_Z400KX)
add_test(NAME header_in_c COMMAND header_in_c)
set_tests_properties(header_in_c PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 300
  ENVIRONMENT "TOVIRA_VIRTUAL_CAMERAS=0;TOVIRA_VIRTUAL_PACE=fast")

if(EXISTS ${CMAKE_SOURCE_DIR}/apps/CMakeLists.txt)
  add_subdirectory(apps)
  if(TARGET dll_tests)
    add_dependencies(dll_tests tovira_viewer tovira_tool)  # the viewer test starts the sample
  endif()
  # The distributable zip, made from this build tree (runs on the host, not under Wine).
  add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package-check.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT 900 RESOURCE_LOCK wineprefix)
endif()

# Streaming benchmark under Wine (white-box: the library's objects); run by hand, not a CTest entry.
file(GLOB WIN_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/win/*.cpp)
if(WIN_BENCH_SOURCES)
  add_executable(stream_bench ${WIN_BENCH_SOURCES} $<TARGET_OBJECTS:tovira_core>)
  target_link_libraries(stream_bench PRIVATE tovira_core)
endif()

# Stop and release latency through the DLL, as ratios to the frame time; run by hand.
add_executable(stop_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/win/stop/StopBench.cpp)
target_include_directories(stop_bench PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(stop_bench PRIVATE ToviraSdk_Z400KX)

# Saving benchmark under Wine: each file type next to its encoder alone; run by hand.
add_executable(save_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/win/save/SaveBench.cpp
  $<TARGET_OBJECTS:tovira_core>)
target_link_libraries(save_bench PRIVATE tovira_core)

# Recording benchmark under Wine, per codec: the DLL through its headers; run by hand.
add_executable(record_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/win/record/RecordBench.cpp)
target_include_directories(record_bench PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(record_bench PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(record_bench PRIVATE ToviraSdk_Z400KX)

# Acquisition-extension benchmark under Wine: the DLL through its headers; run by hand.
add_executable(acquisition_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/win/acquisition/AcquisitionBench.cpp)
target_include_directories(acquisition_bench PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(acquisition_bench PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(acquisition_bench PRIVATE ToviraSdk_Z400KX)
