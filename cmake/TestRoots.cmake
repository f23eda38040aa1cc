# The Debian releases that run the suites besides this machine
# (scripts/test-root): tavrimo_roots names them all, tavrimo_build_roots
# those older than this machine, which build the program themselves;
# tavrimo_host_release is this machine's own.
set(tavrimo_roots)
set(tavrimo_build_roots)
set(tavrimo_host_release)
if(TAVRIMO_ROOT_TESTS OR NOT WIN32)
  set(_test_root ${PROJECT_SOURCE_DIR}/scripts/test-root)
  execute_process(COMMAND ${_test_root} host OUTPUT_VARIABLE tavrimo_host_release
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${_test_root} roots OUTPUT_VARIABLE _lines
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" _lines "${_lines}")
  foreach(_line ${_lines})
    string(REGEX MATCH "^([a-z]+) (run|build)$" _ "${_line}")
    list(APPEND tavrimo_roots ${CMAKE_MATCH_1})
    if(CMAKE_MATCH_2 STREQUAL "build")
      list(APPEND tavrimo_build_roots ${CMAKE_MATCH_1})
    endif()
  endforeach()
endif()
