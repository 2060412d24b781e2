# cmake -DMODULE=<file> -DIDENTITY=<build identity> -DB2SUM=<b2sum> -P SealModule.cmake
# Seals an engine module just linked: appends one line naming the build it belongs to, the size of
# what precedes the line and that content's BLAKE2b-256 digest. The loader (engine_module.cpp)
# opens a module only when its seal names the program's own build and the rest of the file still
# matches it: a truncated, damaged or foreign file is refused before it is mapped.
foreach(var MODULE IDENTITY B2SUM)
  if(NOT ${var})
    message(FATAL_ERROR "SealModule.cmake needs -D${var}=...")
  endif()
endforeach()
file(SIZE ${MODULE} _size)
execute_process(COMMAND ${B2SUM} -l 256 ${MODULE} OUTPUT_VARIABLE _sum RESULT_VARIABLE _status)
string(REGEX MATCH "^[0-9a-f]+" _digest "${_sum}")
if(NOT _status EQUAL 0 OR NOT _digest)
  message(FATAL_ERROR "no digest of ${MODULE}: ${_sum}")
endif()
file(APPEND ${MODULE} "\n#tavrolin-module-seal build=${IDENTITY} size=${_size} blake2b-256=${_digest}\n")
