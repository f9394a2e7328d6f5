# Each subsystem library and each folder of unit tests compiles its files as
# a few translation units (a unity build): alone, each file spent most of its
# time on the same standard library, GoogleTest and src/ templates as its
# neighbours. So names local to one file (anonymous namespace, static) must
# differ from those of the other files of its folder. OFF compiles file by
# file, for a cheaper rebuild while editing one file.
option(TALLO_UNITY_BUILD "Compile each library and test folder as a few translation units" ON)

# tallo_subsystem(NAME DEPS <targets...>)
#
# Every folder under src/ is one subsystem library, tallo_<NAME>, built from
# the .cpp files it holds (header-only until it has one). Dependencies point
# one way: python -> host -> language -> channels -> circuit -> tracking ->
# base; the CTest include_direction (check_includes.py) checks the includes.
function(tallo_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp")
  if(sources)
    add_library(tallo_${name} STATIC ${sources})
    set_target_properties(tallo_${name} PROPERTIES UNITY_BUILD ${TALLO_UNITY_BUILD})
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
# whose cases CTest discovers one by one. With TALLO_UNITY_BUILD the folder's
# files compile as one translation unit.
function(tallo_unit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cpp/${name}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(tallo_${name}_tests ${sources})
  set_target_properties(tallo_${name}_tests PROPERTIES UNITY_BUILD ${TALLO_UNITY_BUILD} UNITY_BUILD_BATCH_SIZE 0)
  target_include_directories(tallo_${name}_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/cpp")
  target_link_libraries(tallo_${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(tallo_${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
