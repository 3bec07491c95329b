# vorn_add_version_section(<target>): builds the product version ${VORN_PRODUCT_VERSION} and the
# file version ${PROJECT_VERSION} into the executable <target>, in the section that
# GetFileVersions() reads (util/VersionSection.h).

# Splits "a.b.c.d" into <prefix>1..<prefix>4 (missing parts are 0); each must fit 16 bits.
function(_vorn_split_version version prefix)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  if(count GREATER 4 OR NOT version MATCHES "^[0-9]+(\\.[0-9]+)*$")
    message(FATAL_ERROR "Version '${version}' is not major.minor.patch.build")
  endif()
  foreach(i RANGE 1 4)
    set(value 0)
    if(i LESS_EQUAL count)
      math(EXPR index "${i} - 1")
      list(GET parts ${index} value)
    endif()
    if(value GREATER 65535)
      message(FATAL_ERROR "Version '${version}': part ${value} does not fit 16 bits")
    endif()
    math(EXPR value "${value}") # drops leading zeros, which C++ would read as octal
    set(${prefix}${i} ${value} PARENT_SCOPE)
  endforeach()
endfunction()

function(vorn_add_version_section target)
  if(NOT DEFINED VORN_PRODUCT_VERSION OR NOT DEFINED PROJECT_VERSION)
    message(FATAL_ERROR "vorn_add_version_section: VORN_PRODUCT_VERSION and PROJECT_VERSION must be set")
  endif()
  _vorn_split_version("${VORN_PRODUCT_VERSION}" VORN_PRODUCT_V)
  _vorn_split_version("${PROJECT_VERSION}" VORN_FILE_V)
  set(VORN_VERSION_TARGET ${target})
  set(here ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(VORN_VERSION_SECTION_HEADER ${here}/VersionSection.h)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_section.cpp)
  configure_file(${here}/version_section.cpp.in ${generated} @ONLY)
  target_sources(${target} PRIVATE ${generated})
endfunction()
