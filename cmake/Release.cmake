# The release: one version, project()'s in CMakeLists.txt, in the DLL's version resource, the
# test host's banner and the package's name; a tovrel.dll that is the same byte for byte whoever
# builds the same commit with the same toolchain, wherever and whenever; and the package users
# download, `cmake --build --preset win32 --target package`, equally reproducible.

# The version resource takes the version from a generated header (the resource compiler's command
# line cannot carry a quoted string reliably).
configure_file(${PROJECT_SOURCE_DIR}/src/plugin/win32/tovrel_version.h.in
               ${PROJECT_BINARY_DIR}/generated/tovrel_version.h @ONLY)
target_include_directories(tovrel PRIVATE ${PROJECT_BINARY_DIR}/generated)
# Reproducible: no link time in the PE header (the linker writes 0), a fixed preferred base
# address (the linker's automatic one is a hash of the output's path), and no source or build
# directory in anything compiled for the DLL.
target_link_options(tovrel PRIVATE -Wl,--no-insert-timestamp -Wl,--image-base,0x67400000)
foreach(target tovrel tovrel_core tovrel_platform)
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                         -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
endforeach()

# The C++ code takes the version as a definition.
target_compile_definitions(tovrel-host PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")
set(TOVREL_DLL ${PROJECT_BINARY_DIR}/tovrel.dll)

# The package: tovrel.dll, LICENSE, README.txt for users and SHA256SUMS, in a zip whose entries
# have a fixed order, time and permissions.
find_package(Python3 3.7 REQUIRED COMPONENTS Interpreter)
set(TOVREL_PACKAGE ${PROJECT_BINARY_DIR}/tovrel-${PROJECT_VERSION}-win32.zip)
add_custom_command(
  OUTPUT ${TOVREL_PACKAGE}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-package
          --version ${PROJECT_VERSION} --dll ${TOVREL_DLL}
          --license ${PROJECT_SOURCE_DIR}/LICENSE
          --readme ${PROJECT_SOURCE_DIR}/packaging/README.txt.in
          --source ${PROJECT_SOURCE_DIR} --output ${TOVREL_PACKAGE}
  DEPENDS tovrel ${TOVREL_DLL} ${PROJECT_SOURCE_DIR}/tools/make-package ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_SOURCE_DIR}/packaging/README.txt.in
  COMMENT "Packaging ${TOVREL_PACKAGE}"
  VERBATIM)
add_custom_target(package DEPENDS ${TOVREL_PACKAGE})

# The package holds what it should, and two builds in fresh directories (one of them from a copy
# of the sources elsewhere) give the same DLL and the same package.
add_test(NAME package_build COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target package)
set_tests_properties(package_build PROPERTIES FIXTURES_SETUP tovrel_package)
add_test(NAME package_contents
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check-package
                 --version ${PROJECT_VERSION} --dll ${TOVREL_DLL}
                 --license ${PROJECT_SOURCE_DIR}/LICENSE ${TOVREL_PACKAGE})
set_tests_properties(package_contents PROPERTIES FIXTURES_REQUIRED tovrel_package)
add_test(NAME reproducible_build
         COMMAND ${PROJECT_SOURCE_DIR}/tools/check-reproducible ${PROJECT_BINARY_DIR}/reproducible)

# The Wine test of the version resource compares it with the version given here.
target_sources(wine_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32/VersionWineTest.cpp)
target_compile_definitions(wine_tests PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")
target_link_libraries(wine_tests PRIVATE version)
