# torvik_add_gtest(<name> SOURCES ... [LIBS ...] [THREADED] [LABELS ...])
#
# One GoogleTest executable. THREADED marks tests that also run in the ThreadSanitizer build;
# in that build every other test is left out. LABELS adds ctest labels ("e2e": the end-to-end tests,
# which the test presets run in the optimised build only). Tests run headless (see tests/support/test_main.cpp).
set(TORVIK_TSAN_TARGETS "" CACHE INTERNAL "")

function(torvik_add_gtest name)
  cmake_parse_arguments(arg "THREADED" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(TORVIK_TSAN AND NOT arg_THREADED)
    return()
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} torvik_test_main GTest::gtest GTest::gmock Threads::Threads)
  # The sanitizer builds spend most of their time optimising test bodies, which do little work
  # themselves: the code under test keeps its optimisation.
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_options(${name} PRIVATE -O0)
  endif()
  set(properties TIMEOUT 300)
  set(labels ${arg_LABELS})
  if(arg_THREADED)
    list(APPEND labels threaded)
  endif()
  if(labels)
    list(APPEND properties LABELS "${labels}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "${name}."
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${properties})
  if(TORVIK_TSAN)
    set(TORVIK_TSAN_TARGETS ${TORVIK_TSAN_TARGETS} ${name} CACHE INTERNAL "")
  endif()
endfunction()

# Adds each listed folder; every one must exist, so a missing folder fails the configure step.
function(torvik_add_subdirs)
  foreach(folder IN LISTS ARGN)
    add_subdirectory(${folder})
  endforeach()
endfunction()
