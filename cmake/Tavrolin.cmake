# Common flags for the project's own targets.
add_library(tavrolin_flags INTERFACE)
target_compile_options(tavrolin_flags INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(TAVROLIN_WERROR)
  target_compile_options(tavrolin_flags INTERFACE -Werror)
endif()
if(TAVROLIN_SANITIZE)
  # Undefined behaviour ends the process like a memory error does: a report that only prints
  # leaves the test passing.
  target_compile_options(tavrolin_flags INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
  target_link_options(tavrolin_flags INTERFACE -fsanitize=address,undefined)
endif()
if(TAVROLIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TAVROLIN_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  # Coverage for libFuzzer in every library the targets call; any sanitizer report ends the run.
  # clang 14 cannot compile coroutines with the function-type check of UBSan: that one is off.
  target_compile_options(tavrolin_flags INTERFACE -fsanitize=fuzzer-no-link -fno-sanitize-recover=all
                         -fno-sanitize=function)
endif()
target_compile_definitions(tavrolin_flags INTERFACE QT_NO_KEYWORDS)
# The build folder's path stays out of what is compiled (debug information, __FILE__ of generated
# sources), so that an installed program names no folder of the build it came from.
target_compile_options(tavrolin_flags INTERFACE -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)

# tavrolin_layer(<folder under src> <target> DEPENDS libs...): records which library a source
# folder is and which of the project's libraries it builds on, for the include rules
# (tavrolin_write_layering_map()).
function(tavrolin_layer folder target)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY TAVROLIN_LAYERS ${folder})
  set_property(GLOBAL PROPERTY TAVROLIN_LAYER_OF_${target} ${folder})
  set_property(GLOBAL PROPERTY TAVROLIN_LAYER_TARGET_${folder} ${target})
  set_property(GLOBAL PROPERTY TAVROLIN_LAYER_DEPENDS_${folder} ${ARG_DEPENDS})
endfunction()

# tavrolin_subsystem(<name> [DEPENDS libs...]): one static library per source folder, made of
# every .cpp/.h in the folder and its subfolders, except a subfolder with a CMakeLists.txt of its
# own (src/platform/linux), which is a library of its own. DEPENDS names the project's libraries
# it builds on (their headers are the ones it may include) and nothing else.
function(tavrolin_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  tavrolin_layer(${_folder} tavrolin_${name} DEPENDS ${ARG_DEPENDS})
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _srcs EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB _subfolders LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(sub IN LISTS _subfolders)
    if(IS_DIRECTORY ${sub} AND EXISTS ${sub}/CMakeLists.txt)
      list(FILTER _srcs EXCLUDE REGEX "^${sub}/")
    endif()
  endforeach()
  set(_cpp ${_srcs})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(NOT _cpp)
    # A folder without code yet: still a target, so dependents link it unchanged later.
    add_library(tavrolin_${name} INTERFACE)
    target_include_directories(tavrolin_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tavrolin_${name} INTERFACE tavrolin_flags tavrolin_deps ${ARG_DEPENDS})
    return()
  endif()
  add_library(tavrolin_${name} STATIC ${_srcs})
  target_include_directories(tavrolin_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tavrolin_${name} PUBLIC tavrolin_flags tavrolin_deps ${ARG_DEPENDS})
  tavrolin_check_layering(tavrolin_${name} ${_folder})
endfunction()

# The environment of every test run. LeakSanitizer reads the leaks of system libraries that no
# caller can release from tests/lsan.supp.
set(TAVROLIN_TEST_ENVIRONMENT
    "TAVROLIN_SOURCE_DIR=${PROJECT_SOURCE_DIR};TAVROLIN_BUILD_DIR=${PROJECT_BINARY_DIR};OMP_THREAD_LIMIT=1"
    "LSAN_OPTIONS=suppressions='${PROJECT_SOURCE_DIR}/tests/lsan.supp'" "UBSAN_OPTIONS=print_stacktrace=1")

# tavrolin_tests(<folder> [OF_LINUX_BACKEND] DEPENDS libs...): the tests of one folder, one
# executable per label.
#   *_test.cpp          unit    (offscreen, fakes, no services): the null back end, which refuses
#                               every desktop facility and links none of the desktop's libraries
#   *_desktop_test.cpp  desktop (real X11, AT-SPI, clipboard, tray: run inside the desktop session)
#   *_engine_test.cpp   engine  (Tesseract, Apertium, Hunspell, PocketSphinx, CLD2 on real data)
# Desktop and engine tests link the Linux back end. OF_LINUX_BACKEND: the folder tests the Linux
# back end itself, whose unit tests link it too.
function(tavrolin_tests folder)
  cmake_parse_arguments(ARG "OF_LINUX_BACKEND" "" "DEPENDS" ${ARGN})
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB _desktop CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_desktop_test.cpp)
  file(GLOB _engine CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_engine_test.cpp)
  set(_unit ${_all})
  if(_desktop)
    list(REMOVE_ITEM _unit ${_desktop})
  endif()
  if(_engine)
    list(REMOVE_ITEM _unit ${_engine})
  endif()
  foreach(label unit desktop engine)
    set(_files ${_${label}})
    if(NOT _files)
      continue()
    endif()
    set(exe ${folder}_${label}_tests)
    add_executable(${exe} ${_files})
    target_link_libraries(${exe} PRIVATE tavrolin_test_support ${ARG_DEPENDS})
    if(label STREQUAL "unit")
      target_link_libraries(${exe} PRIVATE tavrolin_test_main_offscreen)
    else()
      target_link_libraries(${exe} PRIVATE tavrolin_test_main_display)
    endif()
    # The back end last: the libraries before it call its factories.
    if(label STREQUAL "unit" AND NOT ARG_OF_LINUX_BACKEND)
      target_link_libraries(${exe} PRIVATE tavrolin_platform_null)
      set_property(GLOBAL APPEND PROPERTY TAVROLIN_NULL_BACKEND_TESTS ${exe})
    else()
      target_link_libraries(${exe} PRIVATE tavrolin_test_desktop_support tavrolin_platform_linux)
    endif()
    add_test(NAME ${exe} COMMAND ${exe})
    set_tests_properties(${exe} PROPERTIES LABELS ${label} TIMEOUT 600
      ENVIRONMENT "${TAVROLIN_TEST_ENVIRONMENT}")
    if(label STREQUAL "desktop")
      # One display, one focus, one clipboard: desktop tests never run side by side. They also
      # run alone, since several measure how long the GUI thread stalls.
      set_tests_properties(${exe} PROPERTIES RESOURCE_LOCK x11_display RUN_SERIAL TRUE)
      # The program's own desktop tests drive Firefox, Chromium, LibreOffice and a dozen other
      # programs one after the other: on two busy cores they take about half an hour.
      set_tests_properties(${exe} PROPERTIES TIMEOUT 2700)
    endif()
  endforeach()
endfunction()

# The include rules of the source folders (cmake/CheckLayering.cmake), judged on what the compiler
# opened: tavrolin_check_layering(<target> <folder under src>) compiles every object of the target
# through cmake/compile-checking-layers.sh, which fails a compile that opened a file the library
# of that folder may not (and removes its object). An object is judged again when the libraries'
# dependencies or the rules change.
set(TAVROLIN_LAYERING_MAP ${PROJECT_BINARY_DIR}/layering_map.cmake)
function(tavrolin_check_layering target folder)
  set(_launcher ${PROJECT_SOURCE_DIR}/cmake/compile-checking-layers.sh ${CMAKE_COMMAND}
      ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}
      ${TAVROLIN_LAYERING_MAP} ${folder})
  get_target_property(_after ${target} CXX_COMPILER_LAUNCHER)
  if(_after)
    list(APPEND _launcher ${_after})
  endif()
  set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER "${_launcher}")
  get_target_property(_sources ${target} SOURCES)
  set_property(SOURCE ${_sources} APPEND PROPERTY OBJECT_DEPENDS ${TAVROLIN_LAYERING_MAP}
               ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake)
endfunction()

# The project's libraries (tavrolin_*) a target links, directly or through another, and every
# other item met on the way (Qt's and the native libraries' targets, library files), without
# looking inside those.
function(_tavrolin_link_closure target out)
  set(_seen "")
  set(_queue ${target})
  set(_items "")
  while(_queue)
    list(POP_FRONT _queue _current)
    if(_current IN_LIST _seen)
      continue()
    endif()
    list(APPEND _seen ${_current})
    set(_direct "")
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(_value ${_current} ${property})
      if(_value)
        list(APPEND _direct ${_value})
      endif()
    endforeach()
    foreach(item IN LISTS _direct)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(item MATCHES "^\\$<" OR item STREQUAL "")
        continue()
      endif()
      list(APPEND _items ${item})
      if(item MATCHES "^tavrolin" AND TARGET ${item})
        list(APPEND _queue ${item})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES _items)
  set(${out} ${_items} PARENT_SCOPE)
endfunction()

# Writes what the include rules and the link test read: for every library folder the folders it
# may include (itself and every library it builds on, directly or through another), and
# everything it links. Call it once every library has been added.
function(tavrolin_write_layering_map)
  get_property(_layers GLOBAL PROPERTY TAVROLIN_LAYERS)
  set(_map "set(TAVROLIN_LAYERS \"${_layers}\")\n")
  set(_links "set(TAVROLIN_LIBRARIES \"${_layers}\")\n")
  foreach(layer IN LISTS _layers)
    set(_sees ${layer})
    get_property(_queue GLOBAL PROPERTY TAVROLIN_LAYER_DEPENDS_${layer})
    while(_queue)
      list(POP_FRONT _queue _dependency)
      get_property(_below GLOBAL PROPERTY TAVROLIN_LAYER_OF_${_dependency})
      if(NOT _below)
        message(FATAL_ERROR "${layer} builds on ${_dependency}, which is not one of the project's libraries")
      endif()
      if(NOT _below IN_LIST _sees)
        list(APPEND _sees ${_below})
        get_property(_next GLOBAL PROPERTY TAVROLIN_LAYER_DEPENDS_${_below})
        list(APPEND _queue ${_next})
      endif()
    endwhile()
    string(APPEND _map "set(TAVROLIN_SEES_${layer} \"${_sees}\")\n")
    get_property(_target GLOBAL PROPERTY TAVROLIN_LAYER_TARGET_${layer})
    _tavrolin_link_closure(${_target} _linked)
    string(APPEND _links "set(TAVROLIN_LINKS_${layer} \"${_linked}\")\n")
  endforeach()
  file(CONFIGURE OUTPUT ${TAVROLIN_LAYERING_MAP} CONTENT "${_map}" @ONLY)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/library_links.cmake CONTENT "${_links}" @ONLY)
endfunction()
