# tallo_subsystem(NAME DEPS <targets...>)
#
# Every folder under src/ is one subsystem library, tallo_<NAME>, built from
# the .cpp files it holds (header-only until it has one). Dependencies point
# one way: python -> host -> language -> channels -> circuit -> tracking ->
# base; the CTest include_direction (CheckIncludes.cmake) checks the includes.
function(tallo_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp")
  if(sources)
    add_library(tallo_${name} STATIC ${sources})
    target_include_directories(tallo_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(tallo_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(tallo_${name} INTERFACE)
    target_include_directories(tallo_${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(tallo_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tallo_unit_tests(NAME DEPS <targets...>)
#
# tests/cpp/<NAME>/*.cpp become one GoogleTest executable, tallo_<NAME>_tests,
# whose cases CTest discovers one by one. The folder's files compile as one
# translation unit (a unity build): alone, each spent most of its time on
# GoogleTest, the standard library and the same templates of src/ as its
# neighbours. So names local to one test file (anonymous namespace, static)
# must differ from those of the other files in its folder.
function(tallo_unit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cpp/${name}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(tallo_${name}_tests ${sources})
  set_target_properties(tallo_${name}_tests PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  target_include_directories(tallo_${name}_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/cpp")
  target_link_libraries(tallo_${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(tallo_${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
