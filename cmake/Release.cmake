# The release: one version, project()'s in CMakeLists.txt, in the DLL's version resource, the
# test host's banner and the package's name; a tovrel.dll that is the same byte for byte whoever
# builds the same commit with the same toolchain, wherever and whenever; and the package users
# download, `cmake --build --preset win32 --target package`, equally reproducible.

# The version resource takes the version from a generated header (the resource compiler's command
# line cannot carry a quoted string reliably).
configure_file(${PROJECT_SOURCE_DIR}/src/plugin/win32/tovrel_version.h.in
               ${PROJECT_BINARY_DIR}/generated/tovrel_version.h @ONLY)
target_include_directories(tovrel PRIVATE ${PROJECT_BINARY_DIR}/generated)
# Reproducible, the DLL and every program of the test package: no link time in the PE header
# (the linker writes 0), a fixed preferred base address for each DLL (the linker's automatic one
# is a hash of the output's path), and no source or build directory in anything compiled for
# them (GoogleTest's file names, which its failures print, too).
target_link_options(tovrel PRIVATE -Wl,--image-base,0x67400000)
target_link_options(empty PRIVATE -Wl,--image-base,0x67500000)
target_link_options(passthrough PRIVATE -Wl,--image-base,0x67600000)
foreach(target tovrel wine_tests tovrel-host empty passthrough)
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
endforeach()
foreach(target tovrel tovrel_core tovrel_platform tovrel_probe tovrel_wine_bench wine_tests
               tovrel-host empty passthrough gtest)
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                         -ffile-prefix-map=${PROJECT_BINARY_DIR}/=
                         -ffile-prefix-map=${TOVREL_GOOGLETEST_DIR}/=googletest/)
endforeach()

# The C++ code takes the version as a definition.
target_compile_definitions(tovrel-host PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")
set(TOVREL_DLL ${PROJECT_BINARY_DIR}/tovrel.dll)

# The package: tovrel.dll, LICENSE, README.txt for users and SHA256SUMS, in a zip whose entries
# have a fixed order, time and permissions.
find_package(Python3 3.7 REQUIRED COMPONENTS Interpreter)
set(TOVREL_PACKAGE ${PROJECT_BINARY_DIR}/tovrel-${PROJECT_VERSION}-win32.zip)
# The entries' time is the last commit's, which no file of the build follows: a stamp of it,
# written at every build and changed only with it, makes both packages again after a commit.
set(TOVREL_PACKAGE_TIME ${PROJECT_BINARY_DIR}/generated/package-time.txt)
add_custom_target(tovrel_package_time
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-package
          --source ${PROJECT_SOURCE_DIR} --stamp ${TOVREL_PACKAGE_TIME}
  BYPRODUCTS ${TOVREL_PACKAGE_TIME}
  VERBATIM)
add_custom_command(
  OUTPUT ${TOVREL_PACKAGE}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-package
          --version ${PROJECT_VERSION} --binary tovrel.dll=${TOVREL_DLL}
          --text README.txt=${PROJECT_SOURCE_DIR}/packaging/README.txt.in
          --text LICENSE=${PROJECT_SOURCE_DIR}/LICENSE
          --source ${PROJECT_SOURCE_DIR} --output ${TOVREL_PACKAGE}
  DEPENDS tovrel ${TOVREL_DLL} ${TOVREL_PACKAGE_TIME} ${PROJECT_SOURCE_DIR}/tools/make-package
          ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_SOURCE_DIR}/packaging/README.txt.in
  COMMENT "Packaging ${TOVREL_PACKAGE}"
  VERBATIM)
add_custom_target(package DEPENDS ${TOVREL_PACKAGE})

# The test package: the Wine test program as tovrel-tests.exe, beside the very files it tests and
# loads (tovrel.dll, the host, the benchmarks' DLLs), and the runner that runs it on Windows
# (run-tests.cmd) with its README. It carries nothing of the build machine: no Wine runner, no
# prefix, no path. Written like the package above.
set(TOVREL_TEST_PACKAGE ${PROJECT_BINARY_DIR}/tovrel-tests-${PROJECT_VERSION}-win32.zip)
add_custom_command(
  OUTPUT ${TOVREL_TEST_PACKAGE}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-package
          --version ${PROJECT_VERSION} --binary tovrel-tests.exe=$<TARGET_FILE:wine_tests>
          --binary tovrel.dll=${TOVREL_DLL} --binary tovrel-host.exe=$<TARGET_FILE:tovrel-host>
          --binary empty.dll=$<TARGET_FILE:empty> --binary passthrough.dll=$<TARGET_FILE:passthrough>
          --text run-tests.cmd=${PROJECT_SOURCE_DIR}/packaging/run-tests.cmd
          --text README-tests.txt=${PROJECT_SOURCE_DIR}/packaging/README-tests.txt.in
          --text LICENSE=${PROJECT_SOURCE_DIR}/LICENSE
          --source ${PROJECT_SOURCE_DIR} --output ${TOVREL_TEST_PACKAGE}
  DEPENDS wine_tests tovrel tovrel-host empty passthrough ${TOVREL_DLL} ${TOVREL_PACKAGE_TIME}
          ${PROJECT_SOURCE_DIR}/tools/make-package ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_SOURCE_DIR}/packaging/run-tests.cmd
          ${PROJECT_SOURCE_DIR}/packaging/README-tests.txt.in
  COMMENT "Packaging ${TOVREL_TEST_PACKAGE}"
  VERBATIM)
add_custom_target(test-package DEPENDS ${TOVREL_TEST_PACKAGE})

# Each package holds what it should, and a build in a fresh directory from a copy of the sources
# elsewhere gives the same DLL and the same packages as this one.
add_test(NAME package_build COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target package)
set_tests_properties(package_build PROPERTIES FIXTURES_SETUP tovrel_package)
add_test(NAME package_contents
         COMMAND ${PROJECT_SOURCE_DIR}/tools/check-package
                 --version ${PROJECT_VERSION} --dll ${TOVREL_DLL}
                 --license ${PROJECT_SOURCE_DIR}/LICENSE ${TOVREL_PACKAGE})
set_tests_properties(package_contents PROPERTIES FIXTURES_REQUIRED tovrel_package)
add_test(NAME test_package_build
         COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target test-package)
set_tests_properties(test_package_build PROPERTIES FIXTURES_SETUP tovrel_test_package)
add_test(NAME test_package_contents
         COMMAND ${PROJECT_SOURCE_DIR}/tools/check-package --tests --version ${PROJECT_VERSION}
                 --license ${PROJECT_SOURCE_DIR}/LICENSE
                 --program tovrel-tests.exe=$<TARGET_FILE:wine_tests> --program tovrel.dll=${TOVREL_DLL}
                 --program tovrel-host.exe=$<TARGET_FILE:tovrel-host>
                 --program empty.dll=$<TARGET_FILE:empty> --program passthrough.dll=$<TARGET_FILE:passthrough>
                 --no-path ${PROJECT_SOURCE_DIR} --no-path ${PROJECT_BINARY_DIR}
                 --no-path ${TOVREL_GOOGLETEST_DIR} ${TOVREL_TEST_PACKAGE})
set_tests_properties(test_package_contents PROPERTIES FIXTURES_REQUIRED tovrel_test_package)
# The test package run as users run it, under Wine: every case once at 96 DPI under the prefix's
# own code page and Windows version, the programs as packaged and started by run-tests.cmd, the
# registry tree saved and put back. Two starts: the program and a second host process, started
# early so that the two overlap. And once more, ended by the program's time limit at 1 s.
set(TOVREL_RUN_TEST_PACKAGE ${PROJECT_SOURCE_DIR}/tests/tools/run-test-package ${TOVREL_TEST_PACKAGE})
add_test(NAME test_package_runs
         COMMAND ${TOVREL_RUN_TEST_PACKAGE} ${PROJECT_BINARY_DIR}/test-package-run
                 ${PROJECT_BINARY_DIR}/wineprefix pass)
tovrel_wine_entry(test_package_runs 2 25)
add_test(NAME test_package_time_limit
         COMMAND ${TOVREL_RUN_TEST_PACKAGE} ${PROJECT_BINARY_DIR}/test-package-time-limit
                 ${PROJECT_BINARY_DIR}/wineprefix time-limit)
tovrel_wine_entry(test_package_time_limit 2 5)
set_property(TEST test_package_runs test_package_time_limit APPEND
             PROPERTY FIXTURES_REQUIRED tovrel_test_package)

# This build is the first of the two; the second, from a copy of the sources, is built fresh, at
# the lowest priority, while the Wine tests run one after another beside it (the preset runs two
# entries at once; only one of them ever takes the desktop). Its limit allows for a machine that
# emulates 32-bit code, whose Wine tests keep both processors busy for minutes.
add_test(NAME reproducible_build
         COMMAND ${PROJECT_SOURCE_DIR}/tools/check-reproducible --first ${PROJECT_BINARY_DIR}
                 ${PROJECT_BINARY_DIR}/reproducible)
set_tests_properties(reproducible_build PROPERTIES TIMEOUT 3600
                     FIXTURES_REQUIRED "tovrel_package;tovrel_test_package")
# The entries that build in this tree, one at a time.
set_tests_properties(package_build test_package_build PROPERTIES RESOURCE_LOCK win32_build_tree)

# The Wine test of the version resource compares it with the version given here.
target_sources(wine_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32/VersionWineTest.cpp)
target_compile_definitions(wine_tests PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")
target_link_libraries(wine_tests PRIVATE version)
