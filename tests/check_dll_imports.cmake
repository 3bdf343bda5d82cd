# Reads the import table (objdump -p) of every DLL, program and GenTL producer
# in the given folders and fails on an import that is neither a Windows system
# DLL nor one of those files: the DLLs must be drop-in, without MinGW's runtime.
#   cmake -DOBJDUMP=<objdump> -DDIRS="<folder>;..." -P check_dll_imports.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var OBJDUMP DIRS)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# What every Windows installation has (lower case).
set(system_dlls kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  msvcrt.dll ucrtbase.dll ntdll.dll ws2_32.dll iphlpapi.dll bcrypt.dll crypt32.dll shlwapi.dll
  version.dll winmm.dll setupapi.dll)

set(binaries "")
foreach(dir IN LISTS DIRS)
  file(GLOB found LIST_DIRECTORIES false ${dir}/*.dll ${dir}/*.exe ${dir}/*.cti)
  list(APPEND binaries ${found})
endforeach()
if(NOT binaries)
  message(FATAL_ERROR "no DLL, program or producer in ${DIRS}")
endif()
set(ours "")
foreach(binary IN LISTS binaries)
  get_filename_component(name ${binary} NAME)
  string(TOLOWER ${name} name)
  list(APPEND ours ${name})
endforeach()

set(failures "")
foreach(binary IN LISTS binaries)
  execute_process(COMMAND ${OBJDUMP} -p ${binary} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${binary} failed: ${rc}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(line IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" import "${line}")
    string(STRIP "${import}" import)
    string(TOLOWER "${import}" lower)
    # MinGW's runtime and zlib count as foreign even when a copy lies beside them.
    if(NOT lower MATCHES "^(libstdc\\+\\+|libgcc_s|libwinpthread|zlib1|libz)" AND
       (lower IN_LIST system_dlls OR lower IN_LIST ours OR lower MATCHES "^api-ms-win-"))
      continue()
    endif()
    string(APPEND failures "\n  ${binary} imports ${import}")
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "imports beyond Windows and this build:${failures}")
endif()
list(LENGTH binaries count)
message(STATUS "${count} binaries import only Windows system DLLs and each other")
