# SPDX-License-Identifier: MIT
# Writes the Debian symbols file of the library: every symbol of the
# interface (abi/symbols.list) that the built library exports, with the
# version that brought it. The interface as it stood in 1.0.0 is all 1.0.0;
# a symbol added later goes into `since` with its version.
# Arguments: LIB, NM, LIST, OUT, PACKAGE, DEV_PACKAGE, SONAME, VERSION.
cmake_minimum_required(VERSION 3.25)
set(since "") # "SYMBOL VERSION" pairs, e.g. "_ZN8CIniFileeqERKS_ 1.1.0"

execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIB}
  OUTPUT_VARIABLE nm_out RESULT_VARIABLE nm_rc)
if(NOT nm_rc EQUAL 0)
  message(FATAL_ERROR "${NM} -D ${LIB} failed")
endif()
string(REGEX MATCHALL "(^|\n)[^ \n]+ [A-Za-z]" exported "${nm_out}")
list(TRANSFORM exported REPLACE "^\n?([^ ]+) .$" "\\1")

file(STRINGS ${LIST} listed REGEX "^  ")
list(TRANSFORM listed STRIP)
set(text "${SONAME} ${PACKAGE} #MINVER#\n* Build-Depends-Package: ${DEV_PACKAGE}\n")
set(absent "")
foreach(symbol ${listed})
  if(NOT symbol IN_LIST exported)
    list(APPEND absent ${symbol})
    continue()
  endif()
  set(version ${VERSION})
  list(FIND since ${symbol} at)
  if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET since ${at} version)
  endif()
  string(APPEND text " ${symbol}@Base ${version}\n")
endforeach()
if(absent)
  string(REPLACE ";" "\n  " absent "${absent}")
  message(FATAL_ERROR "the library does not export these symbols of its interface:\n  ${absent}")
endif()
file(WRITE ${OUT} "${text}")
