# cmake -DCHECK=<CheckLayering.cmake> -DMAP=<build's layering map> -DWORK=<empty folder> -P layering_check_test.cmake
#
# Runs the include check over small source trees laid out like the project's, with the build's own
# map of which library builds on which: each include below must be refused however it is spelt,
# naming the file and the rule, and a tree of allowed includes must pass.
cmake_minimum_required(VERSION 3.25)
foreach(variable CHECK MAP WORK)
  if(NOT ${variable})
    message(FATAL_ERROR "layering_check_test.cmake needs -D${variable}=...")
  endif()
endforeach()

set(_failures "")

# Runs the check over a tree holding `file` (under src/) with the one include `line`, beside the
# few headers the includes name.
function(check_tree name file line out_result out_output)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  foreach(header platform/linux/engine_module.h platform/desktop_backend.h platform/clock.h core/app_log.h
                 settings_window/settings_view.h language/translation_client.h shell/app_delegate.h)
    file(WRITE ${root}/src/${header} "#pragma once\n")
  endforeach()
  file(WRITE ${root}/src/${file} "// checked\n${line}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DTAVROLIN_SOURCE_DIR=${root} -DTAVROLIN_LAYERING_MAP=${MAP} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

function(expect_refused name file line reason)
  check_tree(${name} ${file} "${line}" result output)
  string(REGEX REPLACE "^#include " "" included "${line}")
  string(FIND "${output}" "src/${file} includes ${included}: " named)
  string(FIND "${output}" "${reason}" explained)
  if(result EQUAL 0 OR named EQUAL -1 OR explained EQUAL -1)
    set(_failures "${_failures}\n  ${name}: src/${file} with ${line} gave ${result}:\n${output}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_allowed name file line)
  check_tree(${name} ${file} "${line}" result output)
  if(NOT result EQUAL 0)
    set(_failures "${_failures}\n  ${name}: src/${file} with ${line} was refused:\n${output}" PARENT_SCOPE)
  endif()
endfunction()

# The Linux back end from a library, in every spelling.
set(_backend "platform/linux is not below focused_text")
expect_refused(backend_quoted focused_text/reader.cpp "#include \"platform/linux/engine_module.h\"" "${_backend}")
expect_refused(backend_relative focused_text/reader.cpp "#include \"../platform/linux/engine_module.h\"" "${_backend}")
expect_refused(backend_angle focused_text/reader.cpp "#include <platform/linux/engine_module.h>" "${_backend}")
expect_refused(backend_from_shell shell/wiring.cpp "#include \"platform/linux/engine_module.h\""
               "platform/linux is not below shell")

# A library above, in every spelling.
set(_above "settings_window is not below core (core builds on: platform)")
expect_refused(above_quoted core/settings.cpp "#include \"settings_window/settings_view.h\"" "${_above}")
expect_refused(above_relative core/settings.cpp "#include \"../settings_window/settings_view.h\"" "${_above}")
expect_refused(above_angle core/settings.cpp "#include <settings_window/settings_view.h>" "${_above}")
expect_refused(root_from_language language/service.cpp "#include \"../shell/app_delegate.h\"" "shell is not below language")
expect_refused(platform_sees_only_itself platform/seam.h "#include \"core/app_log.h\""
               "core is not below platform (platform builds on: nothing)")

# The desktop's back end called from a library.
expect_refused(backend_factories language/service.cpp "#include \"platform/desktop_backend.h\""
               "the desktop's back end is the composition root's")
expect_refused(backend_factories_relative window_translation/overlay.cpp "#include \"../platform/desktop_backend.h\""
               "the desktop's back end is the composition root's")

# The native libraries' headers outside the Linux back end.
foreach(case "X11;<X11/Xlib.h>" "xcb;<xcb/xcb.h>" "AT-SPI;<atspi/atspi.h>" "GLib;<glib-object.h>" "D-Bus;<dbus/dbus.h>"
             "QtDBus;<QDBusConnection>" "QtDBus;<QtDBus/QDBusReply>" "Hunspell;<hunspell/hunspell.hxx>"
             "Hunspell;\"hunspell.hxx\"" "Apertium;<lttoolbox/fst.h>" "Tesseract;<tesseract/baseapi.h>"
             "Tesseract;<leptonica/allheaders.h>" "PocketSphinx;<pocketsphinx.h>" "PocketSphinx;<sphinxbase/err.h>"
             "PulseAudio;<pulse/simple.h>" "libzip;<zip.h>" "CLD2;<cld2/public/compact_lang_det.h>")
  list(GET case 0 library)
  list(GET case 1 header)
  string(MAKE_C_IDENTIFIER "native_${header}" name)
  expect_refused(${name} focused_text/reader.cpp "#include ${header}"
                 "a header of ${library}, which only the Linux back end (src/platform/linux) includes")
  expect_allowed(${name}_in_backend platform/linux/reader.cpp "#include ${header}")
endforeach()
expect_refused(native_in_app app/main.cpp "#include <pocketsphinx.h>" "a header of PocketSphinx")

# What each library may see.
expect_allowed(own_folder core/settings.cpp "#include \"app_log.h\"")
expect_allowed(below_quoted language/service.cpp "#include \"core/app_log.h\"")
expect_allowed(below_relative language/service.cpp "#include \"../core/app_log.h\"")
expect_allowed(below_angle language/service.cpp "#include <core/app_log.h>")
expect_allowed(through_another settings_window/view.cpp "#include \"platform/clock.h\"")
expect_allowed(root_factories shell/wiring.cpp "#include \"platform/desktop_backend.h\"")
expect_allowed(program_backend app/main.cpp "#include \"platform/linux/engine_module.h\"")
expect_allowed(backend_defines platform/null/refusals.cpp "#include \"platform/desktop_backend.h\"")
expect_allowed(toolkit language/service.cpp "#include <QString>")
expect_allowed(generated core/settings.cpp "#include \"core/build_config.h\"")

if(_failures)
  message(FATAL_ERROR "The include check let through or misread:${_failures}")
endif()
