# cmake -DTAVROLIN_SOURCE_DIR=<source dir> -DTAVROLIN_LAYERING_MAP=<build dir>/layering_map.cmake
#       -P CheckLayering.cmake
#
# Fails when a source file under src/ includes a header its library may not see, however the
# include is spelt ("a/b.h", <a/b.h>, "../a/b.h", "b.h" beside the file):
#   - a library sees its own headers and those of the libraries it builds on, directly or through
#     another (the DEPENDS of its CMakeLists.txt, written to the layering map at configure time),
#     never those of a library above it or beside it: so the Linux back end (platform/linux) is
#     seen by the program (src/app) alone, and the composition root (shell, app) by nobody below;
#   - the factories of the desktop's back end (platform/desktop_backend.h) are for the
#     composition root and the back ends that define them: every other library is handed what it
#     uses;
#   - the headers of the desktop's native libraries (X11, xcb, AT-SPI and GLib, D-Bus and Qt's
#     D-Bus module, Hunspell, Apertium, Tesseract, PocketSphinx, PulseAudio, libzip, CLD2) are
#     included in the Linux back end alone.
cmake_minimum_required(VERSION 3.25)
if(NOT TAVROLIN_SOURCE_DIR OR NOT TAVROLIN_LAYERING_MAP)
  message(FATAL_ERROR "CheckLayering.cmake needs -DTAVROLIN_SOURCE_DIR=<source dir> "
                      "-DTAVROLIN_LAYERING_MAP=<layering map>")
endif()
include(${TAVROLIN_LAYERING_MAP})

# The native libraries by the include paths of their headers.
set(_native_libraries X11 xcb AT-SPI GLib D-Bus QtDBus Hunspell Apertium Tesseract PocketSphinx PulseAudio libzip CLD2)
set(_native_X11 "^X11/")
set(_native_xcb "^xcb/")
set(_native_AT-SPI "^(atspi|at-spi-2\\.0)/")
set(_native_GLib "^(glib|gobject|gio|glib-object)[/.]")
set(_native_D-Bus "^dbus/")
set(_native_QtDBus "^(QtDBus/|QDBus|QCoroDBus|qdbus)")
set(_native_Hunspell "^hunspell[/.]|/hunspell\\.hxx$")
set(_native_Apertium "^(apertium|lttoolbox)/")
set(_native_Tesseract "^(tesseract|leptonica)/|^allheaders\\.h$")
set(_native_PocketSphinx "^(pocketsphinx|sphinxbase)[/.]")
set(_native_PulseAudio "^pulse/")
set(_native_libzip "^zip(conf)?\\.h$")
set(_native_CLD2 "^cld2/")

set(_src ${TAVROLIN_SOURCE_DIR}/src)

# The library a path under src/ belongs to: the longest library folder it lies in.
function(_layer_of relative out)
  set(_best "")
  foreach(layer IN LISTS TAVROLIN_LAYERS)
    string(LENGTH "${layer}" _length)
    string(LENGTH "${_best}" _best_length)
    if((relative MATCHES "^${layer}/") AND _length GREATER _best_length)
      set(_best ${layer})
    endif()
  endforeach()
  set(${out} "${_best}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE _files ${_src}/*.cpp ${_src}/*.h)
set(_faults "")
foreach(file IN LISTS _files)
  file(RELATIVE_PATH rel ${_src} ${file})
  _layer_of("${rel}" layer)
  if(NOT layer)
    list(APPEND _faults "src/${rel} belongs to no library: give its folder a CMakeLists.txt")
    continue()
  endif()
  get_filename_component(dir ${file} DIRECTORY)
  file(STRINGS ${file} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS _includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*)[>\"].*" "\\1;\\2" parsed "${line}")
    list(GET parsed 0 bracket)
    list(GET parsed 1 header)
    # Where the header is: beside the file (quoted includes look there first), else under src/.
    set(target "")
    if(bracket STREQUAL "\"")
      get_filename_component(beside "${dir}/${header}" ABSOLUTE)
      string(FIND "${beside}" "${_src}/" under_src)
      if(EXISTS "${beside}" AND under_src EQUAL 0)
        file(RELATIVE_PATH target ${_src} "${beside}")
      endif()
    endif()
    if(NOT target AND NOT header MATCHES "^\\.")
      _layer_of("${header}" named)
      if(named OR EXISTS "${_src}/${header}")
        set(target "${header}")
      endif()
    endif()
    set(why "")
    if(target)
      _layer_of("${target}" target_layer)
      if(target_layer AND NOT target_layer IN_LIST TAVROLIN_SEES_${layer})
        set(below ${TAVROLIN_SEES_${layer}})
        list(REMOVE_ITEM below ${layer})
        list(JOIN below ", " below)
        if(NOT below)
          set(below "nothing")
        endif()
        set(why "${target_layer} is not below ${layer} (${layer} builds on: ${below})")
      elseif(target STREQUAL "platform/desktop_backend.h" AND NOT layer MATCHES "^(shell|app|platform/linux|platform/null)$")
        set(why "the desktop's back end is the composition root's to call: hand ${layer} the facility it uses")
      endif()
    elseif(NOT layer STREQUAL "platform/linux")
      foreach(library IN LISTS _native_libraries)
        if(header MATCHES "${_native_${library}}")
          set(why "a header of ${library}, which only the Linux back end (src/platform/linux) includes")
          break()
        endif()
      endforeach()
    endif()
    if(why)
      set(closing "\"")
      if(bracket STREQUAL "<")
        set(closing ">")
      endif()
      list(APPEND _faults "src/${rel} includes ${bracket}${header}${closing}: ${why}")
    endif()
  endforeach()
endforeach()
if(_faults)
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Layering broken:\n  ${_text}")
endif()
