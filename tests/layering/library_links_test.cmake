# cmake -DLINKS=<build dir>/library_links.cmake -P library_links_test.cmake
#
# No library but the Linux back end links a native library of the desktop (X11, xcb, AT-SPI, D-Bus
# and Qt's D-Bus module, Hunspell, CLD2, libsystemd) or an engine (Tesseract, PocketSphinx, PulseAudio, libzip,
# their modules), nor the Linux back end itself: the program (src/app) alone picks it.
cmake_minimum_required(VERSION 3.25)
if(NOT LINKS)
  message(FATAL_ERROR "library_links_test.cmake needs -DLINKS=<library links>")
endif()
include(${LINKS})

set(_forbidden "^(X11::|PkgConfig::(XCB|XSS|ATSPI|HUNSPELL|TESSERACT|PULSE|LIBZIP|CURL|SYSTEMD)$|Qt6::DBus$|QCoro6::DBus$|tavrolin_native$|tavrolin_cld2$|tavrolin_pocketsphinx$|tavrolin_platform_linux$|tavrolin-)")
# Library files named directly rather than through a target.
set(_forbidden_files "/lib(X11|Xss|Xtst|xcb[-.]|atspi|dbus-1|hunspell|cld2|tesseract|lept|pocketsphinx|sphinxbase|pulse|zip|curl|systemd)[^/]*$")
set(_faults "")
foreach(library IN LISTS TAVROLIN_LIBRARIES)
  if(library STREQUAL "platform/linux" OR library STREQUAL "app")
    continue()
  endif()
  foreach(item IN LISTS TAVROLIN_LINKS_${library})
    if(item MATCHES "${_forbidden}" OR item MATCHES "${_forbidden_files}")
      list(APPEND _faults "${library} links ${item}")
    endif()
  endforeach()
endforeach()
if(_faults)
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Libraries link what only the Linux back end may:\n  ${_text}")
endif()
