# Cross-compiles for 32-bit Windows with mingw-w64, runtime linked in, with the POSIX threading
# model: the test programs and the host use std::thread. tovrel.dll links no C++ runtime, so the
# model makes no difference to it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOVREL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVREL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the binaries: the host process has none.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
