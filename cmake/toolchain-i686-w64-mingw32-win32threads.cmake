# The shipped tovrel.dll's compilers: mingw-w64 with the win32 threading model, whose runtime
# needs no threads library. The DLL starts no threads and takes no locks; the POSIX model would
# link in a threads library with functions later than Windows XP and a vectored exception
# handler, and leave a record behind at every unload.
set(TOVREL_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-w64-mingw32.cmake)
