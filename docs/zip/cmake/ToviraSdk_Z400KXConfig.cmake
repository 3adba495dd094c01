# CMake package of the Z400KX camera SDK: find_package(ToviraSdk_Z400KX) gives the imported target
# ToviraSdk::ToviraSdk_Z400KX with the headers, the import library for the compiler in use (MSVC: .lib,
# mingw: .dll.a) and the DLL. This file lies in lib/cmake/ToviraSdk_Z400KX/ of the SDK's folder.
get_filename_component(_tovira_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET ToviraSdk::ToviraSdk_Z400KX)
  add_library(ToviraSdk::ToviraSdk_Z400KX SHARED IMPORTED)
  if(MSVC)
    set(_tovira_implib "${_tovira_root}/lib/ToviraSdk_Z400KX.lib")
  else()
    set(_tovira_implib "${_tovira_root}/lib/libToviraSdk_Z400KX.dll.a")
  endif()
  set_target_properties(ToviraSdk::ToviraSdk_Z400KX PROPERTIES
    IMPORTED_LOCATION "${_tovira_root}/bin/ToviraSdk_Z400KX.dll"
    IMPORTED_IMPLIB "${_tovira_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_tovira_root}/include")
  unset(_tovira_implib)
endif()

# tovira_copy_dll(<target>): puts the SDK's DLL beside the program after each build, so it starts there.
function(tovira_copy_dll target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:ToviraSdk::ToviraSdk_Z400KX>" "$<TARGET_FILE_DIR:${target}>"
    VERBATIM)
endfunction()

set(ToviraSdk_Z400KX_FOUND TRUE)
unset(_tovira_root)
