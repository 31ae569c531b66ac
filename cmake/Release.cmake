# The release: one version, project()'s in CMakeLists.txt, in the DLL's version resource, the
# test host's banner and the Wine test that reads the resource back.

# The version resource takes the version from a generated header (the resource compiler's
# command line cannot carry a quoted string reliably); the C++ code takes it as a definition.
configure_file(${PROJECT_SOURCE_DIR}/src/plugin/win32/tovrel_version.h.in
               ${PROJECT_BINARY_DIR}/generated/tovrel_version.h @ONLY)
target_include_directories(tovrel PRIVATE ${PROJECT_BINARY_DIR}/generated)
target_compile_definitions(tovrel-host PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")

# The Wine test of the version resource compares it with the version given here.
target_sources(wine_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32/VersionWineTest.cpp)
target_compile_definitions(wine_tests PRIVATE TOVREL_VERSION="${PROJECT_VERSION}")
target_link_libraries(wine_tests PRIVATE version)
