# MinGW's C++ runtime DLLs beside the programs: without them a test program
# exits with code 53 before printing anything.
file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE _qrv_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The compiler echoes the bare name back when it has no such file.
  if(NOT IS_ABSOLUTE "${_qrv_dll}" OR NOT EXISTS "${_qrv_dll}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know ${dll}")
  endif()
  file(COPY ${_qrv_dll} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endforeach()
