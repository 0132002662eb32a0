# The version, from one place: project(VERSION) in the top CMakeLists.txt, completed at
# every build with the commit it is built from (cmake/write_version_header.cmake). Targets
# that print or embed it link tessaray_version and include "tessaray_version.h".
set(TESSARAY_VERSION_DIR ${CMAKE_BINARY_DIR}/generated/version)
add_custom_target(tessaray_version_header
  COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DOUTPUT=${TESSARAY_VERSION_DIR}/tessaray_version.h -P ${CMAKE_SOURCE_DIR}/cmake/write_version_header.cmake
  BYPRODUCTS ${TESSARAY_VERSION_DIR}/tessaray_version.h
  COMMENT "Version header"
  VERBATIM)
add_library(tessaray_version INTERFACE)
target_include_directories(tessaray_version INTERFACE ${TESSARAY_VERSION_DIR})
add_dependencies(tessaray_version tessaray_version_header)

# Windows programs: a version resource and the application manifest, from
# packaging/windows/program.rc with the program's own name and description.
function(tessaray_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(rc ${CMAKE_BINARY_DIR}/generated/resources/${target}.rc)
  set(TESSARAY_RC_NAME ${target})
  set(TESSARAY_RC_DESCRIPTION ${description})
  set(TESSARAY_RC_MANIFEST ${CMAKE_SOURCE_DIR}/packaging/windows/tessaray.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  target_link_libraries(${target} PRIVATE tessaray_version)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${TESSARAY_RC_MANIFEST}
                                                           ${TESSARAY_VERSION_DIR}/tessaray_version.h)
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)  # the resource is the manifest
  endif()
endfunction()
