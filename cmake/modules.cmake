# tarnevos_library(NAME DIRS dir... DEPS dep...)
# Builds NAME from every *.cc in DIRS except *_test.cc and main.cc, and,
# when tests are on, a test program NAME_test from the *_test.cc files of
# the same folders.
function(tarnevos_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources "")
  set(tests "")
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cc)
    foreach(file IN LISTS found)
      if(file MATCHES "/main\\.cc$")
        continue()  # a program's entry point, built by its own executable
      elseif(file MATCHES "_test\\.cc$")
        list(APPEND tests ${file})
      else()
        list(APPEND sources ${file})
      endif()
    endforeach()
  endforeach()
  if(NOT sources)
    set(sources ${CMAKE_SOURCE_DIR}/cmake/empty.cc)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(TARNEVOS_TESTS AND tests)
    add_executable(${name}_test ${tests})
    target_link_libraries(${name}_test PRIVATE ${name} tv_testing GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name}_test
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      PROPERTIES ENVIRONMENT "TARNEVOS_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
                 FIXTURES_REQUIRED pg_cluster
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
