# Every external library, found once; subsystem targets link the interface target tavrolin_deps.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network DBus Concurrent Test Svg)
find_package(QCoro6 REQUIRED COMPONENTS Core Network DBus)
qcoro_enable_coroutines()
find_package(X11 REQUIRED)
find_package(PkgConfig REQUIRED)

pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-keysyms xcb-xtest xcb-ewmh xcb-icccm xcb-res xcb-xkb xcb-xinput)
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0)
pkg_check_modules(TESSERACT REQUIRED IMPORTED_TARGET tesseract lept)
pkg_check_modules(HUNSPELL REQUIRED IMPORTED_TARGET hunspell)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
# The HTTP module hands libcurl's OpenSSL one trust store it loads once.
pkg_check_modules(OPENSSL REQUIRED IMPORTED_TARGET openssl)
pkg_check_modules(SYSTEMD IMPORTED_TARGET libsystemd)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse-simple libpulse)
pkg_check_modules(XSS REQUIRED IMPORTED_TARGET xscrnsaver xtst x11)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-i18n icu-uc)

# pocketsphinx.pc names a sphinxbase include folder that does not exist: keep only the ones that do.
pkg_check_modules(PS REQUIRED pocketsphinx sphinxbase)
set(_ps_includes "")
foreach(d IN LISTS PS_INCLUDE_DIRS)
  if(EXISTS "${d}")
    list(APPEND _ps_includes "${d}")
  endif()
endforeach()
add_library(tavrolin_pocketsphinx INTERFACE)
target_include_directories(tavrolin_pocketsphinx SYSTEM INTERFACE ${_ps_includes})
target_link_libraries(tavrolin_pocketsphinx INTERFACE ${PS_LINK_LIBRARIES})

# CLD2 ships no pkg-config file.
find_path(CLD2_INCLUDE_DIR cld2/public/compact_lang_det.h REQUIRED)
find_library(CLD2_LIBRARY cld2 REQUIRED)
add_library(tavrolin_cld2 INTERFACE)
target_include_directories(tavrolin_cld2 SYSTEM INTERFACE ${CLD2_INCLUDE_DIR})
target_link_libraries(tavrolin_cld2 INTERFACE ${CLD2_LIBRARY})

add_library(tavrolin_deps INTERFACE)
target_link_libraries(tavrolin_deps INTERFACE
  Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network Qt6::Concurrent QCoro6::Core QCoro6::Network)

# The desktop's native libraries the program maps from its start, linked PRIVATE by the Linux back
# end (src/platform/linux) alone. The engines only some commands need (Tesseract, PocketSphinx,
# PulseAudio, libzip, libcurl) are linked by the engine modules alone (src/platform/linux/modules), which
# the program opens when a command first needs one.
add_library(tavrolin_native INTERFACE)
target_link_libraries(tavrolin_native INTERFACE
  PkgConfig::XCB PkgConfig::XSS PkgConfig::ATSPI PkgConfig::HUNSPELL tavrolin_cld2 Qt6::DBus QCoro6::DBus)

if(TAVROLIN_BUILD_TESTS)
  find_package(GTest REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
if(TAVROLIN_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# Tesseract parallelises with OpenMP; the recognition threads set its limits per thread.
find_package(OpenMP REQUIRED COMPONENTS CXX)
