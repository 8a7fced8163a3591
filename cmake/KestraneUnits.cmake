# A folder of the layout holds toolkit-free units (its core library) and windows
# (files named *form.*, which join the kestrane_forms library). Units are picked up
# by name, so adding a unit needs no edit here.
#
# A unit whose work differs by system keeps what is common in <Unit>.cpp and the rest in
# <Unit>posix.cpp (Linux and other POSIX systems) and <Unit>win32.cpp (Windows); the build
# takes the file of the system it builds for.
#
#   kestrane_folder(<core library name> [LINKS <libraries the core needs>])
function(kestrane_platform_sources var)
  if(WIN32)
    list(FILTER ${var} EXCLUDE REGEX "posix\\.cpp$")
  else()
    list(FILTER ${var} EXCLUDE REGEX "win32\\.(cpp|h)$")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

function(kestrane_folder core)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  list(FILTER sources EXCLUDE REGEX "form\\.(cpp|h)$")
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  kestrane_platform_sources(sources)
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(cpp)
    add_library(${core} STATIC ${sources})
    target_link_libraries(${core} PUBLIC ${ARG_LINKS})
  else()
    add_library(${core} INTERFACE)
    target_link_libraries(${core} INTERFACE ${ARG_LINKS})
  endif()
  if(KESTRANE_GUI)
    file(GLOB forms CONFIGURE_DEPENDS ${dir}/*form.cpp ${dir}/*form.h ${dir}/*form.ui
         ${dir}/*.qrc)
    if(forms)
      target_sources(kestrane_forms PRIVATE ${forms})
    endif()
  endif()
endfunction()

# A program that shows windows. With Qt for Windows (static) it takes the Windows platform
# plugin, which Qt imports by default, and the offscreen one, with which tests run it.
function(kestrane_window_program target)
  if(WIN32)
    qt_import_plugins(${target}
      INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin)
  endif()
endfunction()
