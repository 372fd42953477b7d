# Helpers every folder uses to declare its libraries, programs and tests.

include(SxVersion)

# Compiler warnings for every target of the project.
function(sx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12's optimiser reports -Wmaybe-uninitialized inside std::variant moves and -Wrestrict inside
  # std::string (known false positives of that release); debug builds keep both warnings.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE
      $<$<NOT:$<CONFIG:Debug>>:-Wno-maybe-uninitialized -Wno-restrict>)
  endif()
  if(SX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# sx_add_library(NAME [SHARED|STATIC] SOURCES ... [PUBLIC_INCLUDE dir] [LIBS ...])
function(sx_add_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC" "PUBLIC_INCLUDE" "SOURCES;LIBS" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  if(ARG_PUBLIC_INCLUDE)
    target_include_directories(${name} PUBLIC ${ARG_PUBLIC_INCLUDE})
  endif()
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
  sx_warnings(${name})
endfunction()

# sx_add_test(NAME SOURCES ... [LIBS ...]): one GoogleTest program, each test its own CTest entry.
# Callers declare tests only when BUILD_TESTING is on.
function(sx_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  sx_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# sx_add_soak_test(NAME TARGET FILTER): the GoogleTest tests of TARGET that FILTER selects, run
# again as one long CTest entry "soak.NAME" with SX_SOAK=1 (sx/testing/soak.h: many trials instead
# of a few) and the label "soak". The normal test presets leave soak tests out; `ctest --preset
# soak` (or the workflow of that name) runs just them.
function(sx_add_soak_test name target filter)
  add_test(NAME soak.${name} COMMAND ${target} --gtest_filter=${filter})
  set_tests_properties(soak.${name} PROPERTIES ENVIRONMENT SX_SOAK=1 LABELS soak TIMEOUT 7200)
endfunction()

# sx_windows_crt(TARGET): the target's calls of the C runtime's rename and remove take Windows paths
# of the machine, as on Windows (platform/win32/include/win32/crt.h). Given to a program or to the
# library a program is made of (which hands it on to the programs that link it).
function(sx_windows_crt target)
  set(wrap -Wl,--wrap=rename -Wl,--wrap=remove)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "INTERFACE_LIBRARY")
    target_link_options(${target} INTERFACE ${wrap})
  else()
    target_link_options(${target} PRIVATE ${wrap})
  endif()
endfunction()
