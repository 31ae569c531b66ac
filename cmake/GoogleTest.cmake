# GoogleTest from the sources Debian's googletest package ships, built with the current compiler
# (so the cross build gets a Windows GoogleTest).
set(TOVREL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${TOVREL_GOOGLETEST_DIR}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TOVREL_GOOGLETEST_DIR} (apt-get install googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TOVREL_GOOGLETEST_DIR}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
