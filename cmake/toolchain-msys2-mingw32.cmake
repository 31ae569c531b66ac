# Builds on Windows in MSYS2's MINGW32 environment (its shell, or its bin folder first on PATH):
# that environment's own i686 gcc, g++ and windres, runtime linked in, as the cross build does.
# Its GCC uses the POSIX threading model too (winpthreads, linked statically), so the test
# programs' std::thread is the same. Its GCC is built without link-time optimization, which the
# build then leaves out (CMakeLists.txt probes for it). GoogleTest is built from a source tree
# named by TOVREL_GOOGLETEST_DIR (cmake/GoogleTest.cmake): MSYS2's own package ships a built
# library, not the sources.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_RC_COMPILER windres)

# No libgcc, libstdc++ or winpthread DLLs beside the binaries: the host process has none.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
