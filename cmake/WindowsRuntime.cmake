# Drop-in DLLs: the GCC runtime (libgcc, libstdc++ and winpthread) is linked into
# every DLL and program of this build, so that QRVAcqGenIcam.dll and the
# libraries beside it import only Windows system DLLs and each other. -static
# makes the linker take libwinpthread.a (and every other library named with -l)
# rather than its import library; Windows' own import libraries stay imports.
# Each DLL then has its own copy of the C++ runtime: what crosses between them
# (strings, containers, exceptions) is allocated by msvcrt.dll, which all share,
# and x64 exceptions unwind through the system's table-based handler.
add_link_options(-static -static-libgcc -static-libstdc++)
# zlib from libz-mingw-w64-dev, linked in as well.
set(ZLIB_USE_STATIC_LIBS ON)
