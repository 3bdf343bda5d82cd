# Compares the plug-in DLL's export table (objdump -p) with the entry points
# its header declares: exactly those names, undecorated, nothing else.
#   cmake -DOBJDUMP=<objdump> -DDLL=<QRVAcqGenIcam.dll> -DHEADER=<QRVAcqGenIcam.h> -P check_dll_exports.cmake
foreach(var OBJDUMP DLL HEADER)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(STRINGS ${HEADER} declarations REGEX "^QRVACQ_API .*\\(")
set(expected "")
foreach(line IN LISTS declarations)
  string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\(" _ "${line}")
  list(APPEND expected ${CMAKE_MATCH_1})
endforeach()
list(SORT expected)
list(LENGTH expected expected_count)
if(NOT expected_count EQUAL 22)
  message(FATAL_ERROR "${HEADER} declares ${expected_count} entry points, not 22: ${expected}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${rc}")
endif()
# The name pointer table: "\t[   0] Close", one line per exported name.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[ *[0-9]+\\] [^\n]*\n)*)" _ "${dump}")
# Brackets would upset CMake's list splitting: drop the "[   0] " columns first.
string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] " "" names "${CMAKE_MATCH_1}")
string(STRIP "${names}" names)
string(REPLACE "\n" ";" exported "${names}")
list(SORT exported)

if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "export table of ${DLL}\n  has:      ${exported}\n  expected: ${expected}")
endif()
message(STATUS "${DLL} exports exactly the ${expected_count} entry points")
