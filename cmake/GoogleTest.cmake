# GoogleTest from a source tree, built with the current compiler (so the Windows builds get a
# Windows GoogleTest): by default the one Debian's googletest package ships; elsewhere (MSYS2)
# the folder TOVREL_GOOGLETEST_DIR names, a clone of GoogleTest 1.12 or later.
set(TOVREL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${TOVREL_GOOGLETEST_DIR}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in '${TOVREL_GOOGLETEST_DIR}': on Debian, "
                      "apt-get install googletest; elsewhere set TOVREL_GOOGLETEST_DIR to a "
                      "GoogleTest source tree")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TOVREL_GOOGLETEST_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
