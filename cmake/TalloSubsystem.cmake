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

# tallo_reaches_circuit(FILE RESULT): whether FILE includes, directly or
# through our own headers, the reactive circuit's header, on which most of
# src/ sits. Our includes are resolved as the compiler does: beside the
# including file, then in src/ and tests/cpp/. Answers are remembered for the
# whole configure run.
function(tallo_reaches_circuit file result)
  get_property(known GLOBAL PROPERTY "tallo_reaches:${file}" SET)
  if(known)
    get_property(answer GLOBAL PROPERTY "tallo_reaches:${file}")
    set(${result} ${answer} PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL PROPERTY "tallo_reaches:${file}" OFF)  # ends include cycles
  set(answer OFF)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  get_filename_component(beside "${file}" DIRECTORY)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
    if(included STREQUAL "circuit/reactive_circuit.h")
      set(answer ON)
      break()
    endif()
    foreach(folder "${beside}" "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/cpp")
      if(EXISTS "${folder}/${included}")
        tallo_reaches_circuit("${folder}/${included}" reaches)
        if(reaches)
          set(answer ON)
        endif()
        break()
      endif()
    endforeach()
    if(answer)
      break()
    endif()
  endforeach()
  set_property(GLOBAL PROPERTY "tallo_reaches:${file}" ${answer})
  set(${result} ${answer} PARENT_SCOPE)
endfunction()

# tallo_unit_tests(NAME DEPS <targets...>)
#
# tests/cpp/<NAME>/*.cpp become one GoogleTest executable, tallo_<NAME>_tests,
# whose cases CTest discovers one by one. With TALLO_UNITY_BUILD the folder's
# files compile as at most two translation units: those that reach the
# reactive circuit's header and those that do not, so that editing the
# circuit rebuilds only the tests that depend on it.
function(tallo_unit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cpp/${name}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(tallo_${name}_tests ${sources})
  set_target_properties(tallo_${name}_tests PROPERTIES UNITY_BUILD ${TALLO_UNITY_BUILD} UNITY_BUILD_MODE GROUP)
  foreach(source IN LISTS sources)
    tallo_reaches_circuit("${source}" reaches)
    if(reaches)
      set_source_files_properties("${source}" TARGET_DIRECTORY tallo_${name}_tests PROPERTIES UNITY_GROUP circuit)
    else()
      set_source_files_properties("${source}" TARGET_DIRECTORY tallo_${name}_tests PROPERTIES UNITY_GROUP plain)
    endif()
  endforeach()
  target_include_directories(tallo_${name}_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/cpp")
  target_link_libraries(tallo_${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(tallo_${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
