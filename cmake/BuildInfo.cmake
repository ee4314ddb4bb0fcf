# SPDX-License-Identifier: Apache-2.0
# Build constants shown by `dssview -version`, fixed at configure time.
find_package(Git QUIET)
set(DSSVIEW_BUILD_NUMBER "unknown")
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _rev OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _rc ERROR_QUIET)
  if(_rc EQUAL 0 AND _rev)
    set(DSSVIEW_BUILD_NUMBER "${_rev}")
  endif()
endif()
cmake_host_system_information(RESULT DSSVIEW_BUILD_HOST QUERY HOSTNAME)
set(DSSVIEW_BUILD_OS "${CMAKE_HOST_SYSTEM_NAME} ${CMAKE_HOST_SYSTEM_VERSION}")
execute_process(COMMAND date OUTPUT_VARIABLE DSSVIEW_BUILD_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT DSSVIEW_BUILD_DATE)
  string(TIMESTAMP DSSVIEW_BUILD_DATE "%a %b %d %H:%M:%S %Y")
endif()
execute_process(COMMAND date "+%Y-%m-%dT%H:%M:%S%:z" OUTPUT_VARIABLE DSSVIEW_BUILD_TIMESTAMP
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT DSSVIEW_BUILD_TIMESTAMP)
  string(TIMESTAMP DSSVIEW_BUILD_TIMESTAMP "%Y-%m-%dT%H:%M:%S+00:00" UTC)
endif()
configure_file(${PROJECT_SOURCE_DIR}/drda/app/build_info.h.in
               ${PROJECT_BINARY_DIR}/generated/build_info.h @ONLY)
