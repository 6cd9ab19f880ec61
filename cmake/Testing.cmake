# GoogleTest: Debian's libgtest natively; compiled from Debian's googletest
# sources for Windows. Tests of Windows programs run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR.
enable_testing()
include(GoogleTest)
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()

# updater_test(name [CP936] [FILTER expr] SOURCES ... LIBS ...): a GoogleTest
# program whose cases ctest runs one by one; with CP936, a Windows program
# whose cases run under Wine with the ANSI code page 936 (below); with
# FILTER, only the cases that the GoogleTest filter expr selects.
function(updater_test name)
  cmake_parse_arguments(ARG "CP936" "FILTER" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  updater_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}")
  if(ARG_CP936)
    add_dependencies(${name} zh_cn_locale)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
      "env;LANG=zh_CN.UTF-8;LC_ALL=zh_CN.UTF-8;LOCPATH=${UPDATER_LOCPATH};${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  set(filter)
  if(ARG_FILTER)
    set(filter TEST_FILTER "${ARG_FILTER}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${filter}
                       PROPERTIES TIMEOUT 300)
endfunction()

# Wine takes the ANSI code page from LANG, but names files with Chinese
# characters only when glibc has the zh_CN.UTF-8 locale compiled; it is built
# once into the build folder (localedef, from Debian's locales package) and
# found through LOCPATH.
if(WIN32)
  set(UPDATER_LOCPATH "${CMAKE_BINARY_DIR}/locale")
  set(zh_cn_ctype "${UPDATER_LOCPATH}/zh_CN.UTF-8/LC_CTYPE")
  add_custom_command(OUTPUT "${zh_cn_ctype}"
    COMMAND sh -c "localedef -i zh_CN -f UTF-8 \"$1\" || test -f \"$2\"" sh
            "${UPDATER_LOCPATH}/zh_CN.UTF-8" "${zh_cn_ctype}"
    COMMENT "Compiling the zh_CN.UTF-8 locale"
    VERBATIM)
  add_custom_target(zh_cn_locale DEPENDS "${zh_cn_ctype}")
endif()


# updater_fuzz_target(name SOURCES ... LIBS ... INSTRUMENT ...): a libFuzzer
# program (fuzz preset only), with coverage feedback from the INSTRUMENT
# libraries it tests, not only from the target itself.
function(updater_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INSTRUMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  updater_warnings(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  foreach(library ${ARG_INSTRUMENT})
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
endfunction()
