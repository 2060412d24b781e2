# cmake -DTAVROLIN_SOURCE_DIR=<source dir> -DTAVROLIN_BINARY_DIR=<build dir>
#       -DTAVROLIN_LAYERING_MAP=<build dir>/layering_map.cmake -DTAVROLIN_LAYER=<library folder under src>
#       -DDEPFILE=<dependency file> [-DOBJECT=<object file>] -P CheckLayering.cmake
#
# Judges every file the compiler opened for one object of a library: the dependency file the
# compiler wrote (-MD) lists them all, whatever the include's spelling ("a//b.h", "x/../y.h",
# digraphs, macros, comments, a header reached through another, a link) and however deep. The
# build runs it after each compile of a library (cmake/compile-checking-layers.sh); the object
# of a refused compile is removed, so the next build compiles it again. A fault names the
# compiled file, the file it opened and the rule:
#   - a file of src/ (or a file the build generated for a folder of src/) belongs to the library
#     of its folder: a library opens its own files and those of the libraries it builds on,
#     directly or through another (the DEPENDS of its CMakeLists.txt, in the layering map), never
#     those of a library above it or beside it; so the Linux back end (platform/linux) is opened
#     by the program (src/app) alone, and the composition root (shell, app) by nobody below;
#   - the factories of the desktop's back end (platform/desktop_backend.h) are for the
#     composition root and the back ends that define them: every other library is handed what it
#     uses;
#   - the project's files outside src/ (tests, benchmarks) are never a library's;
#   - the headers of the desktop's native libraries (X11, xcb, AT-SPI and GLib, D-Bus and Qt's
#     D-Bus module, Hunspell, Apertium, Tesseract, PocketSphinx, PulseAudio, libzip, CLD2,
#     libsystemd) are opened by the Linux back end alone.
cmake_minimum_required(VERSION 3.25)
foreach(variable TAVROLIN_SOURCE_DIR TAVROLIN_BINARY_DIR TAVROLIN_LAYERING_MAP TAVROLIN_LAYER DEPFILE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckLayering.cmake needs -D${variable}=...")
  endif()
endforeach()
include(${TAVROLIN_LAYERING_MAP})
set(layer ${TAVROLIN_LAYER})
if(NOT layer IN_LIST TAVROLIN_LAYERS)
  message(FATAL_ERROR "${layer} is not one of the libraries of the layering map ${TAVROLIN_LAYERING_MAP}")
endif()

# The native libraries by the folders (or names) their headers are installed under.
set(_native_libraries X11 xcb AT-SPI GLib D-Bus QtDBus Hunspell Apertium Tesseract PocketSphinx PulseAudio libzip CLD2
    libsystemd libcurl)
set(_native_X11 "/X11/")
set(_native_xcb "/xcb/")
set(_native_AT-SPI "/(at-spi-2\\.0|atspi)/")
set(_native_GLib "/(glib|gio-unix|gobject)-2\\.0/")
set(_native_D-Bus "/dbus-1\\.0/")
set(_native_QtDBus "/QtDBus/|/qcorodbus[^/]*$|/QCoroDBus[^/]*$")
set(_native_Hunspell "/hunspell/")
set(_native_Apertium "/(apertium|lttoolbox)[^/]*/")
set(_native_Tesseract "/(tesseract|leptonica)/")
set(_native_PocketSphinx "/(pocketsphinx|sphinxbase)/|/pocketsphinx\\.h$")
set(_native_PulseAudio "/pulse/")
set(_native_libzip "/zip(conf)?\\.h$")
set(_native_CLD2 "/cld2/")
set(_native_libsystemd "/systemd/")
set(_native_libcurl "/curl/")
set(_any_native "")
foreach(library IN LISTS _native_libraries)
  string(APPEND _any_native "|${_native_${library}}")
endforeach()
string(SUBSTRING "${_any_native}" 1 -1 _any_native)

# The library a path under src/ belongs to: the longest library folder it lies in.
function(_layer_of relative out)
  set(_best "")
  foreach(candidate IN LISTS TAVROLIN_LAYERS)
    string(LENGTH "${candidate}" _length)
    string(LENGTH "${_best}" _best_length)
    if((relative MATCHES "^${candidate}/") AND _length GREATER _best_length)
      set(_best ${candidate})
    endif()
  endforeach()
  set(${out} "${_best}" PARENT_SCOPE)
endfunction()

# A path as the file system has it: absolute (relative ones are the compiler's working folder's,
# which is this script's), without "." or "..", links resolved.
function(_real path out)
  get_filename_component(_absolute "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  if(EXISTS "${_absolute}")
    file(REAL_PATH "${_absolute}" _absolute)
  endif()
  set(${out} "${_absolute}" PARENT_SCOPE)
endfunction()

_real("${TAVROLIN_SOURCE_DIR}" _source)
_real("${TAVROLIN_BINARY_DIR}" _binary)

# The dependency file: "<object>: <source> <header> ...", lines continued with a backslash,
# spaces in names escaped with one.
file(READ "${DEPFILE}" _text)
string(REPLACE "\\\n" " " _text "${_text}")
string(REPLACE "\\ " "<space>" _text "${_text}")
string(REPLACE "$$" "$" _text "${_text}")
string(REPLACE "\\#" "#" _text "${_text}")
string(FIND "${_text}" ": " _colon)
if(_colon EQUAL -1)
  message(FATAL_ERROR "${DEPFILE} is not a dependency file")
endif()
math(EXPR _colon "${_colon} + 2")
string(SUBSTRING "${_text}" ${_colon} -1 _text)
string(REGEX REPLACE "\n\n.*" "" _text "${_text}")
string(REGEX MATCHALL "[^ \t\r\n]+" _opened "${_text}")

# A file of the project as its faults name it: relative to the source or build folder.
function(_shown path out)
  foreach(root IN ITEMS "${_binary}" "${_source}")
    string(FIND "${path}" "${root}/" _at)
    if(_at EQUAL 0)
      file(RELATIVE_PATH path "${root}" "${path}")
      break()
    endif()
  endforeach()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

set(_faults "")
set(_compiled "")
foreach(entry IN LISTS _opened)
  string(REPLACE "<space>" " " entry "${entry}")
  _real("${entry}" path)
  _shown("${path}" shown)
  if(NOT _compiled)
    set(_compiled "${shown}")
  endif()
  # Generated files first: the build folder may lie inside the source folder.
  set(relative "")
  set(project_root "")
  foreach(root IN ITEMS "${_binary}" "${_source}")
    string(FIND "${path}" "${root}/" _at)
    if(_at EQUAL 0)
      set(project_root "${root}")
      file(RELATIVE_PATH _inside "${root}" "${path}")
      if(_inside MATCHES "^src/")
        string(SUBSTRING "${_inside}" 4 -1 relative)
      endif()
      break()
    endif()
  endforeach()
  set(why "")
  if(relative)
    _layer_of("${relative}" target_layer)
    if(NOT target_layer)
      set(why "it belongs to no library: give its folder a CMakeLists.txt")
    elseif(NOT target_layer IN_LIST TAVROLIN_SEES_${layer})
      set(below ${TAVROLIN_SEES_${layer}})
      list(REMOVE_ITEM below ${layer})
      list(JOIN below ", " below)
      if(NOT below)
        set(below "nothing")
      endif()
      set(why "${target_layer} is not below ${layer} (${layer} builds on: ${below})")
    elseif(relative STREQUAL "platform/desktop_backend.h" AND NOT layer MATCHES "^(shell|app|platform/linux|platform/null)$")
      set(why "the desktop's back end is the composition root's to call: hand ${layer} the facility it uses")
    endif()
  elseif(project_root STREQUAL "${_source}")
    set(why "a file of the project outside src/, which no library opens")
  elseif(NOT project_root AND NOT layer STREQUAL "platform/linux" AND path MATCHES "${_any_native}")
    foreach(library IN LISTS _native_libraries)
      if(path MATCHES "${_native_${library}}")
        set(why "a header of ${library}, which only the Linux back end (src/platform/linux) opens")
        break()
      endif()
    endforeach()
  endif()
  if(why)
    list(APPEND _faults "${_compiled} opens ${shown}: ${why}")
  endif()
endforeach()
if(_faults)
  list(REMOVE_DUPLICATES _faults)
  if(OBJECT)
    file(REMOVE "${OBJECT}")
  endif()
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Layering broken:\n  ${_text}")
endif()
