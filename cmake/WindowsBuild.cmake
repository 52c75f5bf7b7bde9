# The Windows cross-build: statically linked executables that need nothing
# beside them, and the dependencies from Debian's packages built for it.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# The window's resources (icon, version, manifest) go through windres.
enable_language(RC)
add_link_options(-static $<$<CONFIG:Release>:-s>)
# Tests find tovrik-cli.exe beside themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# simdjson from its Debian source package (scripts/setup.sh windows fetches it).
set(TOVRIK_SIMDJSON_SOURCE "" CACHE PATH "simdjson's unpacked Debian source package")
if(NOT EXISTS "${TOVRIK_SIMDJSON_SOURCE}/singleheader/simdjson.cpp")
  message(FATAL_ERROR "TOVRIK_SIMDJSON_SOURCE (${TOVRIK_SIMDJSON_SOURCE}) has no singleheader/simdjson.cpp: "
                      "run scripts/setup.sh windows")
endif()
add_library(simdjson STATIC ${TOVRIK_SIMDJSON_SOURCE}/singleheader/simdjson.cpp)
target_include_directories(simdjson SYSTEM PUBLIC ${TOVRIK_SIMDJSON_SOURCE}/singleheader)
target_compile_options(simdjson PRIVATE -w)
add_library(simdjson::simdjson ALIAS simdjson)

# mbedTLS from its Debian source package, built static for mingw-w64 by
# scripts/mbedtls-mingw.sh (which scripts/setup.sh windows runs), under the
# target names the Linux build gives Debian's libmbedtls-dev (which has no
# CMake package; mbedTLS 3's uses these names).
set(TOVRIK_MBEDTLS_MINGW "" CACHE PATH "mbedTLS's install directory from scripts/mbedtls-mingw.sh")
if(NOT EXISTS "${TOVRIK_MBEDTLS_MINGW}/lib/libmbedtls.a")
  message(FATAL_ERROR "TOVRIK_MBEDTLS_MINGW (${TOVRIK_MBEDTLS_MINGW}) has no lib/libmbedtls.a: "
                      "run scripts/setup.sh windows")
endif()
add_library(MbedTLS::mbedcrypto STATIC IMPORTED)
# ws2_32 as mbedTLS's own link line has it, advapi32 for the entropy source
# (CryptGenRandom), threads for MBEDTLS_THREADING_PTHREAD (winpthreads, which
# the toolchain links).
set_target_properties(MbedTLS::mbedcrypto PROPERTIES
  IMPORTED_LOCATION ${TOVRIK_MBEDTLS_MINGW}/lib/libmbedcrypto.a
  INTERFACE_INCLUDE_DIRECTORIES ${TOVRIK_MBEDTLS_MINGW}/include
  INTERFACE_LINK_LIBRARIES "ws2_32;advapi32;Threads::Threads")
add_library(MbedTLS::mbedx509 STATIC IMPORTED)
set_target_properties(MbedTLS::mbedx509 PROPERTIES
  IMPORTED_LOCATION ${TOVRIK_MBEDTLS_MINGW}/lib/libmbedx509.a
  INTERFACE_INCLUDE_DIRECTORIES ${TOVRIK_MBEDTLS_MINGW}/include
  INTERFACE_LINK_LIBRARIES MbedTLS::mbedcrypto)
add_library(MbedTLS::mbedtls STATIC IMPORTED)
set_target_properties(MbedTLS::mbedtls PROPERTIES
  IMPORTED_LOCATION ${TOVRIK_MBEDTLS_MINGW}/lib/libmbedtls.a
  INTERFACE_INCLUDE_DIRECTORIES ${TOVRIK_MBEDTLS_MINGW}/include
  INTERFACE_LINK_LIBRARIES MbedTLS::mbedx509)

# CLI11 is headers only; only its own folder is put on the include path, not
# the build machine's /usr/include.
set(TOVRIK_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/deps/include)
file(MAKE_DIRECTORY ${TOVRIK_CLI11_INCLUDE})
file(CREATE_LINK /usr/include/CLI ${TOVRIK_CLI11_INCLUDE}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${TOVRIK_CLI11_INCLUDE})

# GoogleTest from its Debian sources, built with the cross compiler.
if(TOVRIK_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
