# cmake -DBINARIES=<program;module...> -P thread_local_size_test.cmake
#
# glibc places a binary's static thread-local block in every thread the program starts (the
# recognition pool's, Qt's, the event threads') and clears it there: none of the program and its
# modules keeps more than a few kilobytes thread-local (readelf, the TLS segment's memory size).
cmake_minimum_required(VERSION 3.25)
if(NOT BINARIES)
  message(FATAL_ERROR "thread_local_size_test.cmake needs -DBINARIES=<binaries>")
endif()
set(_limit 4096)
set(_faults "")
foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND readelf -lW ${binary} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    list(APPEND _faults "readelf -lW ${binary} failed: ${error}")
    continue()
  endif()
  # "  TLS  0xOFFSET 0xVIRT 0xPHYS 0xFILESIZ 0xMEMSIZ R 0xALIGN"
  string(REGEX MATCH "\n[ \t]*TLS[ \t]+0x[0-9a-f]+[ \t]+0x[0-9a-f]+[ \t]+0x[0-9a-f]+[ \t]+0x[0-9a-f]+[ \t]+0x([0-9a-f]+)"
         segment "${output}")
  if(NOT segment)
    continue()  # nothing thread-local
  endif()
  math(EXPR size "0x${CMAKE_MATCH_1}")
  if(size GREATER _limit)
    get_filename_component(name ${binary} NAME)
    list(APPEND _faults "${name} keeps ${size} bytes thread-local (at most ${_limit})")
  endif()
endforeach()
if(_faults)
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Large thread-local data:\n  ${_text}")
endif()
