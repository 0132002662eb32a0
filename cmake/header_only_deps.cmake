# Header-only libraries of the host system (Debian: libcli11-dev, nlohmann-json3-dev), also for
# the cross-compiled Windows build. Pointing the cross compiler at the host's /usr/include would
# put glibc's headers ahead of MinGW's, so only the libraries' own folders are copied into the
# build tree and used from there.
function(tessaray_header_only_dep target package header folder)
  add_library(${target} INTERFACE)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} CONFIG REQUIRED)
    target_link_libraries(${target} INTERFACE ${ARGN})
    return()
  endif()
  find_path(${target}_ROOT ${header} PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH)
  if(NOT ${target}_ROOT)
    message(FATAL_ERROR "${header} not found on the build machine (install ${package}: .ci/install-deps)")
  endif()
  set(dest ${CMAKE_BINARY_DIR}/host-headers/${target})
  file(COPY ${${target}_ROOT}/${folder} DESTINATION ${dest})
  target_include_directories(${target} SYSTEM INTERFACE ${dest})
endfunction()
