# Each subsystem library and each folder of unit tests compiles its files as
# a few translation units (a unity build): alone, each file spent most of its
# time on the same standard library, GoogleTest and src/ templates as its
# neighbours. So names local to one file (anonymous namespace, static) must
# differ from those of the other files of its folder. OFF compiles file by
# file, for a cheaper rebuild while editing one file.
option(TALLO_UNITY_BUILD "Compile each library and test folder as a few translation units" ON)

# The layers of src/, lowest first, as ORDER in cmake/check_includes.py states
# them (the one place that does): the include check and the links below
# follow the same list.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/check_includes.py")
file(STRINGS "${PROJECT_SOURCE_DIR}/cmake/check_includes.py" tallo_order_line REGEX "^ORDER = \\[")
string(REGEX MATCHALL "\"[a-z_]+\"" tallo_layers "${tallo_order_line}")
string(REPLACE "\"" "" tallo_layers "${tallo_layers}")
if(NOT tallo_layers)
  message(FATAL_ERROR "cmake/check_includes.py states no ORDER of the layers on one line")
endif()

# tallo_layer_below(NAME RESULT): the library of the layer right below NAME
# (empty for the lowest); a folder with no place in the order stops.
function(tallo_layer_below name result)
  list(FIND tallo_layers ${name} position)
  if(position LESS 0)
    message(FATAL_ERROR "src/${name}/ has no place in the order (ORDER in cmake/check_includes.py)")
  endif()
  set(below "")
  if(position GREATER 0)
    math(EXPR position "${position} - 1")
    list(GET tallo_layers ${position} layer)
    set(below tallo_${layer})
  endif()
  set(${result} ${below} PARENT_SCOPE)
endfunction()

# tallo_subsystem(NAME DEPS <targets...>)
#
# Every folder under src/ is one subsystem library, tallo_<NAME>, built from
# the .cpp files it holds (header-only until it has one), linked to the layer
# below it and to the outside libraries DEPS names. Dependencies point one
# way, down the order; the CTest include_direction checks the includes.
function(tallo_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  tallo_layer_below(${name} below)
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp")
  if(sources)
    add_library(tallo_${name} STATIC ${sources})
    set_target_properties(tallo_${name} PROPERTIES UNITY_BUILD ${TALLO_UNITY_BUILD})
    target_include_directories(tallo_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(tallo_${name} PUBLIC ${below} ${ARG_DEPS})
  else()
    add_library(tallo_${name} INTERFACE)
    target_include_directories(tallo_${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(tallo_${name} INTERFACE ${below} ${ARG_DEPS})
  endif()
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
  # The include check's own resolution says which test files reach the
  # header, asked once per configure run for every folder.
  get_property(asked GLOBAL PROPERTY tallo_reaching_circuit SET)
  if(NOT asked)
    file(GLOB all_tests "${CMAKE_CURRENT_SOURCE_DIR}/cpp/*/*.cpp")
    execute_process(
      COMMAND ${Python3_EXECUTABLE} "${PROJECT_SOURCE_DIR}/cmake/check_includes.py" --reaching
              src/circuit/reactive_circuit.h "${PROJECT_SOURCE_DIR}" ${all_tests}
      OUTPUT_VARIABLE reaching RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
      message(FATAL_ERROR "cmake/check_includes.py --reaching failed")
    endif()
    string(REPLACE "\n" ";" reaching "${reaching}")
    set_property(GLOBAL PROPERTY tallo_reaching_circuit "${reaching}")
  endif()
  get_property(reaching GLOBAL PROPERTY tallo_reaching_circuit)
  foreach(source IN LISTS sources)
    if(source IN_LIST reaching)
      set_source_files_properties("${source}" TARGET_DIRECTORY tallo_${name}_tests PROPERTIES UNITY_GROUP circuit)
    else()
      set_source_files_properties("${source}" TARGET_DIRECTORY tallo_${name}_tests PROPERTIES UNITY_GROUP plain)
    endif()
  endforeach()
  target_include_directories(tallo_${name}_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/cpp")
  target_link_libraries(tallo_${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(tallo_${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
