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

# OpenSSL from its Debian source package, built static for mingw-w64 by
# scripts/openssl-mingw.sh (which scripts/setup.sh windows runs), under the
# target names FindOpenSSL gives on Linux.
set(TOVRIK_OPENSSL_MINGW "" CACHE PATH "OpenSSL's install directory from scripts/openssl-mingw.sh")
if(NOT EXISTS "${TOVRIK_OPENSSL_MINGW}/lib/libssl.a")
  message(FATAL_ERROR "TOVRIK_OPENSSL_MINGW (${TOVRIK_OPENSSL_MINGW}) has no lib/libssl.a: "
                      "run scripts/setup.sh windows")
endif()
add_library(OpenSSL::Crypto STATIC IMPORTED)
# ws2_32 for BIO's sockets, advapi32 for the random seed and the event log,
# user32 for the service check and error box, crypt32 as OpenSSL's own
# link line has it.
set_target_properties(OpenSSL::Crypto PROPERTIES
  IMPORTED_LOCATION ${TOVRIK_OPENSSL_MINGW}/lib/libcrypto.a
  INTERFACE_INCLUDE_DIRECTORIES ${TOVRIK_OPENSSL_MINGW}/include
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;advapi32;user32")
add_library(OpenSSL::SSL STATIC IMPORTED)
set_target_properties(OpenSSL::SSL PROPERTIES
  IMPORTED_LOCATION ${TOVRIK_OPENSSL_MINGW}/lib/libssl.a
  INTERFACE_INCLUDE_DIRECTORIES ${TOVRIK_OPENSSL_MINGW}/include
  INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)

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
