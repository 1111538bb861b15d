# SPDX-License-Identifier: MIT
# sdsmart_subsystem(NAME [DEPENDS lib...]): a static, position-independent
# library of every .cpp in the calling folder. The shared library is the whole
# of these archives; tests link the archives of their own layer and below.
function(sdsmart_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(sdsmart_${name} STATIC ${srcs})
    target_include_directories(sdsmart_${name} PUBLIC
      ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(sdsmart_${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(sdsmart_${name} INTERFACE)
    target_include_directories(sdsmart_${name} INTERFACE
      ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(sdsmart_${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()
