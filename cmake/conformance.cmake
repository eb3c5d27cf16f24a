# The behaviour suite's tests: each scenario (a TEST_P of the Conformance
# suite in SOURCE) becomes one CTest test a back end, named after both
# ("Conformance.EveryPixelAtEachDepth/X11"), run through LAUNCHER when
# given. A run that selects no test fails; one that skips is marked skipped.
#
# pel_conformance_tests(<target> <source> BACKENDS <name>... [LAUNCHER <word>...] [LABELS <label>...]
#                       [PROPERTIES <property> <value>...])
function(pel_conformance_tests target source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "BACKENDS;LAUNCHER;LABELS;PROPERTIES")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} lines REGEX "^TEST_P\\(Conformance, ")
  foreach(line ${lines})
    string(REGEX REPLACE "^TEST_P\\(Conformance, ([A-Za-z0-9_]+)\\).*" "\\1" scenario "${line}")
    foreach(backend ${arg_BACKENDS})
      # Test parameters name back ends with _ for -.
      string(REPLACE "-" "_" parameter ${backend})
      set(test Conformance.${scenario}/${backend})
      add_test(NAME ${test} COMMAND ${arg_LAUNCHER} $<TARGET_FILE:${target}>
               --gtest_filter=Conformance.${scenario}/${parameter})
      set_tests_properties(${test} PROPERTIES LABELS "conformance;${arg_LABELS}" TIMEOUT 600
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test" SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\] 1 test"
        ${arg_PROPERTIES})
    endforeach()
  endforeach()
endfunction()
