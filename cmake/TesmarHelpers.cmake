# tesmar_library(NAME [DEPS ...] [EXCLUDE file...])
# A subsystem library made of every .cpp in its folder, less the files
# EXCLUDE names (full paths; they belong to another library of the folder).
# Platform back ends for other systems (*_win32.cpp) are left out here;
# CMake picks the file. Test doubles (*_fake.cpp) never enter the product:
# the folder puts them in a test-support library of its own. A folder with
# no .cpp yet is a header-only library.
function(tesmar_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "(_win32|_fake)\\.cpp$")
  if(ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${ARG_EXCLUDE})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tesmar_require_sources(VAR): fails when the list VAR names is empty.
macro(tesmar_require_sources var)
  if(NOT ${var})
    message(FATAL_ERROR "No sources in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
endmacro()

# tesmar_test(NAME DEPS ... [PLACEHOLDER] [NOT_ON_WINDOWS file...] [ONLY file...])
# One test program per folder of tests/, made of every .cpp in it. Every
# test program links the fake serial device (tesmar_platform_fake). A folder
# without tests fails the configuration, unless it is marked PLACEHOLDER
# (made for tests still to come). NOT_ON_WINDOWS names the files of the
# folder that test the Linux stand-ins (or need a pseudo-terminal) and stay
# out of a Windows build; ONLY makes the program of the files named alone.
# Files named *_win32_test.cpp test a Windows back end and build there only.
function(tesmar_test name)
  cmake_parse_arguments(ARG "PLACEHOLDER" "" "DEPS;NOT_ON_WINDOWS;ONLY" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_ONLY)
    list(TRANSFORM ARG_ONLY PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(sources ${ARG_ONLY})
  endif()
  if(NOT WIN32)
    list(FILTER sources EXCLUDE REGEX "_win32_test\\.cpp$")
  endif()
  if(WIN32 AND ARG_NOT_ON_WINDOWS)
    list(TRANSFORM ARG_NOT_ON_WINDOWS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    list(REMOVE_ITEM sources ${ARG_NOT_ON_WINDOWS})
  endif()
  if(NOT sources AND ARG_PLACEHOLDER)
    return()
  endif()
  tesmar_require_sources(sources)
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tesmar_platform_fake GTest::gtest GTest::gmock Threads::Threads)
  # A folder whose tests need set-up of the whole program has a main.cpp
  # (main_win32_test.cpp where Windows needs another).
  set(mains ${sources})
  list(FILTER mains INCLUDE REGEX "/main(_win32_test)?\\.cpp$")
  if(NOT mains)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator every start of a program is dear: one test per
    # program, whose GoogleTest report counts its cases.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
  endif()
endfunction()

# tesmar_check_no_qt_names(header...)
# Fails the configuration when one of the headers (relative to the current
# folder) includes a Qt header or declares a Qt class.
function(tesmar_check_no_qt_names)
  foreach(header IN LISTS ARGN)
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${header} hits
         REGEX "^[ \t]*(#[ \t]*include[ \t]*<Q|class[ \t]+Q[A-Z][A-Za-z]*[ \t]*;)")
    if(hits)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${header} belongs to a library without Qt but names Qt: ${hits}")
    endif()
  endforeach()
endfunction()

# Every target of the tree, by walking every folder.
function(tesmar_collect_targets out dir)
  get_property(result DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    tesmar_collect_targets(sub ${subdir})
    list(APPEND result ${sub})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The libraries of the tree.
function(tesmar_collect_libraries out dir)
  tesmar_collect_targets(targets ${dir})
  set(result)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "_LIBRARY$")
      list(APPEND result ${target})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The names TARGET links itself (none for targets that link nothing).
function(tesmar_direct_links out target)
  set(links)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  elseif(type MATCHES "LIBRARY$|EXECUTABLE")
    get_target_property(links ${target} LINK_LIBRARIES)
  endif()
  if(NOT links)
    set(links)
  endif()
  set(${out} ${links} PARENT_SCOPE)
endfunction()

# Appends to OUT every library TARGET links, directly or through others.
function(tesmar_link_closure out target)
  set(seen ${${out}})
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(NOT TARGET ${current})
      continue()
    endif()
    tesmar_direct_links(links ${current})
    foreach(link IN LISTS links)
      if(NOT link IN_LIST seen)
        list(APPEND seen ${link})
        list(APPEND queue ${link})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# tesmar_check_qt_boundary(GUI lib...)
# Qt belongs to the view libraries: those named *_view (the framework's,
# and a subsystem's window made in its view/ folder). They alone may link
# Qt; only the GUI libraries (the program's window) may reach Qt through a
# view library. Any other library that links Qt, directly or through
# another library, fails the configuration. Programs may link anything.
function(tesmar_check_qt_boundary)
  cmake_parse_arguments(ARG "" "" "GUI" ${ARGN})
  tesmar_collect_libraries(libraries ${PROJECT_SOURCE_DIR})
  if(NOT tesmar_framework_view IN_LIST libraries)
    message(FATAL_ERROR "The view library tesmar_framework_view is missing")
  endif()
  foreach(library IN LISTS libraries)
    if(library MATCHES "_view$")
      continue()
    endif()
    tesmar_direct_links(direct ${library})
    set(closure)
    tesmar_link_closure(closure ${library})
    if(library IN_LIST ARG_GUI)
      set(qt ${direct})
      list(FILTER qt INCLUDE REGEX "^Qt[0-9]*::")
    else()
      set(qt ${closure})
      list(FILTER qt INCLUDE REGEX "^Qt[0-9]*::|_view$")
    endif()
    if(qt)
      message(FATAL_ERROR "${library} links Qt (${qt}); only view libraries (*_view) may")
    endif()
  endforeach()
endfunction()

# tesmar_check_links(SYSTEM lib...)
# Fails when a target of the tree links a bare name that is neither a target
# nor one of the system libraries listed: a library that was dropped or
# misspelt would otherwise surface only as a link error, or not at all.
function(tesmar_check_links)
  cmake_parse_arguments(ARG "" "" "SYSTEM" ${ARGN})
  tesmar_collect_targets(targets ${PROJECT_SOURCE_DIR})
  foreach(target IN LISTS targets)
    tesmar_direct_links(links ${target})
    foreach(link IN LISTS links)
      if(NOT TARGET ${link} AND NOT link IN_LIST ARG_SYSTEM AND NOT link MATCHES "^-|^\\$<|/")
        message(FATAL_ERROR "${target} links ${link}, which is not a target of the build")
      endif()
    endforeach()
  endforeach()
endfunction()
