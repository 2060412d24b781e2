# cmake -DCHECK=<CheckLayering.cmake> -DLAUNCHER=<compile-checking-layers.sh> -DMAP=<build's layering map>
#       -DCXX=<C++ compiler> -DWORK=<empty folder> -P layering_check_test.cmake
#
# The include check judges what the compiler opened. Small source trees laid out like the
# project's are compiled through the build's own launcher, with the build's map of which library
# builds on which: each file below opens a file its library may not, spelt every way a text scan
# misses (a doubled slash, "..", a digraph, a comment or a macro before the name, a line splice,
# a header of its own that includes it, a link), and must be refused, naming the file it really
# opened and the rule, its object removed; the allowed ones must compile. The native libraries'
# headers, not all installed here, are judged from dependency files listing where they install.
cmake_minimum_required(VERSION 3.25)
foreach(variable CHECK LAUNCHER MAP CXX WORK)
  if(NOT ${variable})
    message(FATAL_ERROR "layering_check_test.cmake needs -D${variable}=...")
  endif()
endforeach()

set(_failures "")

# The library folder a file under src/ belongs to in these trees.
function(folder_of file out)
  if(file MATCHES "^platform/(linux|null)/")
    string(REGEX MATCH "^platform/[a-z]+" folder "${file}")
  else()
    string(REGEX MATCH "^[a-z_]+" folder "${file}")
  endif()
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# A tree with the few headers the cases open, `file` (under src/) holding `text`, and the
# additions `extra` names ("link:<path>:<target>" or "<path>:<text>"), compiled through the
# launcher as the build compiles a library's object.
function(compile_tree name file text out_result out_output out_object)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  foreach(header platform/linux/engine_module.h platform/desktop_backend.h platform/clock.h core/app_log.h
                 settings_window/settings_view.h language/translation_client.h shell/app_delegate.h)
    file(WRITE ${root}/src/${header} "#pragma once\n")
  endforeach()
  file(WRITE ${root}/tests/support/fake_clock.h "#pragma once\n")
  foreach(extra IN LISTS ARGN)
    if(extra MATCHES "^link:([^:]+):(.+)$")
      get_filename_component(folder ${root}/src/${CMAKE_MATCH_1} DIRECTORY)
      file(MAKE_DIRECTORY ${folder})
      file(CREATE_LINK ${CMAKE_MATCH_2} ${root}/src/${CMAKE_MATCH_1} SYMBOLIC)
    elseif(extra MATCHES "^([^:]+):(.*)$")
      file(WRITE ${root}/src/${CMAKE_MATCH_1} "#pragma once\n${CMAKE_MATCH_2}\n")
    endif()
  endforeach()
  file(WRITE ${root}/src/${file} "// checked\n${text}\n")
  file(MAKE_DIRECTORY ${root}/build)
  folder_of(${file} folder)
  set(object ${root}/build/checked.o)
  execute_process(COMMAND sh ${LAUNCHER} ${CMAKE_COMMAND} ${CHECK} ${root} ${root}/build ${MAP} ${folder}
                          ${CXX} -std=c++20 -I${root}/src -MD -MT checked.o -MF checked.o.d -o checked.o
                          -c ${root}/src/${file}
                  WORKING_DIRECTORY ${root}/build RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
  set(${out_object} ${object} PARENT_SCOPE)
endfunction()

# `file` holding `text` must be refused for opening `opened` (as the fault names it) by `reason`.
function(expect_refused name file text opened reason)
  compile_tree(${name} ${file} "${text}" result output object ${ARGN})
  string(FIND "${output}" "src/${file} opens ${opened}: " named)
  string(FIND "${output}" "${reason}" explained)
  if(result EQUAL 0 OR named EQUAL -1 OR explained EQUAL -1)
    set(_failures "${_failures}\n  ${name}: src/${file} with ${text} gave ${result}:\n${output}" PARENT_SCOPE)
  elseif(EXISTS ${object})
    set(_failures "${_failures}\n  ${name}: the refused object ${object} is still there" PARENT_SCOPE)
  endif()
endfunction()

function(expect_allowed name file text)
  compile_tree(${name} ${file} "${text}" result output object ${ARGN})
  if(NOT result EQUAL 0 OR NOT EXISTS ${object})
    set(_failures "${_failures}\n  ${name}: src/${file} with ${text} was refused:\n${output}" PARENT_SCOPE)
  endif()
endfunction()

# The Linux back end from a library, in every spelling.
set(_backend "src/platform/linux/engine_module.h")
set(_below_reader "platform/linux is not below focused_text")
foreach(case
    "quoted;#include \"platform/linux/engine_module.h\""
    "relative;#include \"../platform/linux/engine_module.h\""
    "angle;#include <platform/linux/engine_module.h>"
    "doubled_slash;#include \"platform//linux/engine_module.h\""
    "back_and_forth;#include \"core/../platform/linux/engine_module.h\""
    "digraph;%:include \"platform/linux/engine_module.h\""
    "comment_before;/* the back end */ #include \"platform/linux/engine_module.h\""
    "macro;#define BACKEND \"platform/linux/engine_module.h\"\n#include BACKEND"
    "spliced;#\\\ninclude \"platform/linux/engine_module.h\"")
  list(GET case 0 spelling)
  list(GET case 1 text)
  expect_refused(backend_${spelling} focused_text/reader.cpp "${text}" ${_backend} "${_below_reader}")
endforeach()
expect_refused(backend_through_own_header focused_text/reader.cpp "#include \"reader_support.h\"" ${_backend}
               "${_below_reader}" "focused_text/reader_support.h:#include \"platform/linux/engine_module.h\"")
expect_refused(backend_through_link focused_text/reader.cpp "#include \"engine.h\"" ${_backend} "${_below_reader}"
               "link:focused_text/engine.h:../platform/linux/engine_module.h")
expect_refused(backend_from_shell shell/wiring.cpp "#include \"platform/linux/engine_module.h\"" ${_backend}
               "platform/linux is not below shell")

# A library above, in every spelling.
set(_above "settings_window is not below core (core builds on: platform)")
set(_view "src/settings_window/settings_view.h")
expect_refused(above_quoted core/settings.cpp "#include \"settings_window/settings_view.h\"" ${_view} "${_above}")
expect_refused(above_relative core/settings.cpp "#include \"../settings_window/settings_view.h\"" ${_view} "${_above}")
expect_refused(above_angle core/settings.cpp "#include <settings_window/settings_view.h>" ${_view} "${_above}")
expect_refused(root_through_core language/service.cpp "#include \"core/../shell/app_delegate.h\""
               src/shell/app_delegate.h "shell is not below language")
expect_refused(root_relative language/service.cpp "#include \"../shell/app_delegate.h\"" src/shell/app_delegate.h
               "shell is not below language")
expect_refused(platform_sees_only_itself platform/seam.cpp "#include \"core/app_log.h\"" src/core/app_log.h
               "core is not below platform (platform builds on: nothing)")
expect_refused(tests_from_a_library language/service.cpp "#include \"../../tests/support/fake_clock.h\""
               tests/support/fake_clock.h "a file of the project outside src/")

# The desktop's back end called from a library.
expect_refused(backend_factories language/service.cpp "#include \"platform/desktop_backend.h\""
               src/platform/desktop_backend.h "the desktop's back end is the composition root's")
expect_refused(backend_factories_relative window_translation/overlay.cpp "#include \"../platform/desktop_backend.h\""
               src/platform/desktop_backend.h "the desktop's back end is the composition root's")

# A native library's header, installed here, compiled.
expect_refused(native_digraph focused_text/reader.cpp "%:include <xcb/xcb.h>" /usr/include/xcb/xcb.h
               "a header of xcb, which only the Linux back end (src/platform/linux) opens")
expect_refused(native_in_app app/main.cpp "#include <xcb/xcb.h>" /usr/include/xcb/xcb.h "a header of xcb")
expect_allowed(native_in_backend platform/linux/reader.cpp "#include <xcb/xcb.h>")

# What each library may open.
expect_allowed(own_folder core/settings.cpp "#include \"app_log.h\"")
expect_allowed(below_quoted language/service.cpp "#include \"core/app_log.h\"")
expect_allowed(below_relative language/service.cpp "#include \"../core/app_log.h\"")
expect_allowed(below_angle language/service.cpp "#include <core/app_log.h>")
expect_allowed(through_another settings_window/view.cpp "#include \"platform/clock.h\"")
expect_allowed(root_factories shell/wiring.cpp "#include \"platform/desktop_backend.h\"")
expect_allowed(program_backend app/main.cpp "#include \"platform/linux/engine_module.h\"")
expect_allowed(backend_defines platform/null/refusals.cpp "#include \"platform/desktop_backend.h\"")
expect_allowed(standard_library language/service.cpp "#include <string>")

# The native libraries where their packages install their headers, and what else a library
# opens, from a dependency file.
function(judge name folder opened out_result out_output)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/build/checked.o.d "checked.o: ${root}/src/${folder}/checked.cpp \\\n ${opened}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DTAVROLIN_SOURCE_DIR=${root} -DTAVROLIN_BINARY_DIR=${root}/build
                          -DTAVROLIN_LAYERING_MAP=${MAP} -DTAVROLIN_LAYER=${folder} -DDEPFILE=${root}/build/checked.o.d
                          -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

foreach(case "X11;/usr/include/X11/Xlib.h" "xcb;/usr/include/xcb/xcb_ewmh.h"
             "AT-SPI;/usr/include/at-spi-2.0/atspi/atspi.h" "GLib;/usr/include/glib-2.0/glib-object.h"
             "GLib;/usr/lib/x86_64-linux-gnu/glib-2.0/include/glibconfig.h" "D-Bus;/usr/include/dbus-1.0/dbus/dbus.h"
             "QtDBus;/usr/include/x86_64-linux-gnu/qt6/QtDBus/qdbusconnection.h"
             "QtDBus;/usr/include/qcoro6/qcoro/qcorodbuspendingcall.h" "Hunspell;/usr/include/hunspell/hunspell.hxx"
             "Apertium;/usr/include/lttoolbox-3.7/lttoolbox/fst_processor.h"
             "Tesseract;/usr/include/tesseract/baseapi.h" "Tesseract;/usr/include/leptonica/allheaders.h"
             "PocketSphinx;/usr/include/pocketsphinx.h" "PocketSphinx;/usr/include/sphinxbase/err.h"
             "PulseAudio;/usr/include/pulse/simple.h" "libzip;/usr/include/zip.h"
             "CLD2;/usr/include/cld2/public/compact_lang_det.h" "libsystemd;/usr/include/systemd/sd-journal.h")
  list(GET case 0 library)
  list(GET case 1 header)
  string(MAKE_C_IDENTIFIER "native_${header}" name)
  judge(${name} focused_text ${header} result output)
  string(FIND "${output}"
              "src/focused_text/checked.cpp opens ${header}: a header of ${library}, which only the Linux back end"
              found)
  if(result EQUAL 0 OR found EQUAL -1)
    set(_failures "${_failures}\n  ${name}: focused_text opening ${header} gave ${result}:\n${output}")
  endif()
  judge(${name}_in_backend platform/linux ${header} result output)
  if(NOT result EQUAL 0)
    set(_failures "${_failures}\n  ${name}: the Linux back end opening ${header} was refused:\n${output}")
  endif()
endforeach()
foreach(allowed "/usr/include/x86_64-linux-gnu/qt6/QtCore/qstring.h" "/usr/include/qcoro6/qcoro/qcorotask.h"
                "${WORK}/generated/build/src/core/generated/core/build_config.h")
  judge(generated core ${allowed} result output)
  if(NOT result EQUAL 0)
    set(_failures "${_failures}\n  core opening ${allowed} was refused:\n${output}")
  endif()
endforeach()

if(_failures)
  message(FATAL_ERROR "The include check let through or misread:${_failures}")
endif()
