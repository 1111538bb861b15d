# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and builds a small host program
# against it, once through pkg-config and once through find_package(sdsmart).
# Arguments: BUILD_DIR, CONSUMER_DIR, WORK_DIR, LIBDIR, MANDIR, SANITIZE.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " what "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${what}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(libdir ${prefix}/${LIBDIR})
foreach(f ${libdir}/libsdsmart.so.1.0.0 ${prefix}/include/sdsmart/sdsmart.h ${libdir}/pkgconfig/sdsmart.pc
    ${libdir}/cmake/sdsmart/sdsmartConfig.cmake ${libdir}/cmake/sdsmart/sdsmartConfigVersion.cmake
    ${prefix}/bin/sdsmart ${prefix}/${MANDIR}/man1/sdsmart.1)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(READ_SYMLINK ${libdir}/libsdsmart.so dev_link)
file(READ_SYMLINK ${libdir}/libsdsmart.so.1 soname_link)
if(NOT dev_link STREQUAL "libsdsmart.so.1" OR NOT soname_link STREQUAL "libsdsmart.so.1.0.0")
  message(FATAL_ERROR "SONAME links: libsdsmart.so -> ${dev_link}, libsdsmart.so.1 -> ${soname_link}")
endif()
foreach(f ${prefix}/bin/sdsim ${libdir}/libsdsim.so)
  if(NOT EXISTS ${f})
    message(WARNING "the virtual card is not installed: ${f}")
  endif()
endforeach()

set(flags "")
set(env "")
if(SANITIZE)
  set(flags -fsanitize=address,undefined)
  set(env ASAN_OPTIONS=detect_leaks=0)
endif()

# pkg-config, with the prefix found from the .pc file's own place.
find_program(PKG_CONFIG pkg-config REQUIRED)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${libdir}/pkgconfig ${PKG_CONFIG} --cflags --libs sdsmart)
string(STRIP "${run_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
list(GET pc_flags 0 include_flag)
string(SUBSTRING "${include_flag}" 2 -1 include_dir)
get_filename_component(include_dir "${include_dir}" REALPATH)
get_filename_component(expected "${prefix}/include" REALPATH)
if(NOT include_dir STREQUAL expected)
  message(FATAL_ERROR "pkg-config points elsewhere: ${pc_flags}")
endif()
run(cc ${flags} ${CONSUMER_DIR}/consumer.c ${pc_flags} -o ${WORK_DIR}/consumer_pc)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${env} ${WORK_DIR}/consumer_pc)
message(STATUS "pkg-config consumer: ${run_output}")

# find_package(sdsmart) -> sdsmart::sdsmart
string(REPLACE ";" " " flag_text "${flags}")
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-consumer -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_C_FLAGS=${flag_text} -DCMAKE_CXX_FLAGS=${flag_text} -DCMAKE_EXE_LINKER_FLAGS=${flag_text})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-consumer)
run(${CMAKE_COMMAND} -E env ${env} ${WORK_DIR}/cmake-consumer/consumer)
message(STATUS "find_package consumer: ${run_output}")
# A C++ host: the tool's use of a register decoder and of the sector-0
# journal, from the installed headers.
run(${CMAKE_COMMAND} -E env ${env} ${WORK_DIR}/cmake-consumer/registers)
message(STATUS "C++ consumer: ${run_output}")

# The installed tool finds its library next to it.
run(${CMAKE_COMMAND} -E env ${env} ${prefix}/bin/sdsmart --version)
