# cmake -DSOURCE_DIR=<dir> -P CheckIncludes.cmake
#
# Keeps the plan of src/ true. For every file under SOURCE_DIR:
# - an include of one of our headers (a path under SOURCE_DIR) points into the
#   file's own folder or down the order
#       python -> host -> language -> channels -> circuit -> tracking -> base
#   (base includes nothing of ours from another folder; tracking only base);
# - only files in python/ include Python.h;
# - only the clingo wrapper (language/clingo_api.*) includes the clingo
#   declarations (language/clingo_c.h, or a clingo.h of the library's own).
# Every include that breaks a rule is printed as file:line; any one fails.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckIncludes.cmake needs -DSOURCE_DIR=<the src folder>")
endif()

# Lowest first: a folder may include its own and those before it.
set(order base tracking circuit channels language host python)

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
list(SORT files)
set(broken 0)
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  list(FIND order "${folder}" rank)
  if(rank EQUAL -1)
    message(NOTICE "src/${file}: the folder '${folder}' has no place in the order (cmake/CheckIncludes.cmake)")
    math(EXPR broken "${broken} + 1")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    set(fault "")
    if(included MATCHES "(^|/)Python\\.h$")
      if(NOT folder STREQUAL "python")
        set(fault "Python.h outside src/python")
      endif()
    elseif(included STREQUAL "language/clingo_c.h" OR included MATCHES "(^|/)clingo\\.h$")
      if(NOT file MATCHES "^language/clingo_api\\.(h|cpp)$")
        set(fault "the clingo declarations outside the wrapper language/clingo_api.*")
      endif()
    endif()
    if(NOT fault AND EXISTS "${SOURCE_DIR}/${included}" AND included MATCHES "^([^/]+)/")
      list(FIND order "${CMAKE_MATCH_1}" target)
      if(target GREATER rank)
        set(fault "${folder}/ may not include ${CMAKE_MATCH_1}/, which is above it in the order")
      endif()
    endif()
    if(fault)
      message(NOTICE "src/${file}:${number}: includes ${included}: ${fault}")
      math(EXPR broken "${broken} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH files checked)
if(broken GREATER 0)
  message(FATAL_ERROR "${broken} include(s) break the plan of src/")
endif()
message(STATUS "includes of ${checked} files follow the plan of src/")
