# A library hosts link: versioned, exported as VantorComm::<name>, carrying
# the C++ standard its headers need (C_API: plain C headers, no standard).
function(vantor_public_library target name)
  cmake_parse_arguments(arg "C_API" "" "" ${ARGN})
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    EXPORT_NAME ${name})
  if(CMAKE_INSTALL_RPATH)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
  if(arg_C_API)
    target_compile_features(${target} PRIVATE cxx_std_20)
  else()
    target_compile_features(${target} PUBLIC cxx_std_20)
  endif()
  add_library(VantorComm::${name} ALIAS ${target})
  install(TARGETS ${target} EXPORT VantorCommTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# A pkg-config file for `target`, relocatable: its prefix is found from where
# the file itself lies.
function(vantor_pkg_config target pc_name description requires)
  cmake_parse_arguments(arg "C_API" "" "" ${ARGN})
  if(arg_C_API)
    set(PC_CFLAGS "")
  else()
    set(PC_CFLAGS " -std=c++20")
  endif()
  set(pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  file(RELATIVE_PATH PC_TO_PREFIX "${CMAKE_INSTALL_PREFIX}/${pc_dir}" "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" PC_TO_PREFIX "${PC_TO_PREFIX}")
  set(PC_NAME "${pc_name}")
  set(PC_DESCRIPTION "${description}")
  set(PC_REQUIRES "${requires}")
  set(PC_LIB "$<TARGET_FILE_BASE_NAME:${target}>")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vantor-comm.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc.in @ONLY)
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc
                INPUT ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc.in)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc DESTINATION ${pc_dir})
endfunction()

# The path from install folder `dir` (relative: under the prefix) to the
# libraries, for a search path or a file that must find them.
function(vantor_path_to_libdir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(full "${dir}")
  else()
    set(full "${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  file(RELATIVE_PATH rel "${full}" "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()
