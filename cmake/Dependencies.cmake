# Third-party libraries as imported targets:
#   kestrun::curl  kestrun::fltk  kestrun::json (nlohmann-json and the header-only RapidJSON)
# KESTRUN_FULL_BUILD is ON when curl and FLTK can be linked. A cross build for Windows links
# the libraries that scripts/windows-libs.sh built into the prefix named by
# KESTRUN_WINDOWS_LIBS, through their own CMake package files. Without that prefix only a
# compile check is possible: every source still compiles against the host's headers, but
# neither the launcher nor the programs that need curl or FLTK are linked.

set(KESTRUN_WINDOWS_LIBS "" CACHE PATH "Prefix of the libraries cross-built for Windows (scripts/windows-libs.sh)")
set(KESTRUN_FULL_BUILD ON)

# Links (or copies) of the host's headers in a directory of their own, so that the host's
# /usr/include never lands on the Windows include path.
function(kestrun_cross_headers out)
  set(cross_headers ${CMAKE_BINARY_DIR}/cross-headers)
  file(MAKE_DIRECTORY ${cross_headers})
  foreach(pair ${ARGN})
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 name)
    list(GET parts 1 source)
    if(NOT EXISTS ${cross_headers}/${name})
      file(CREATE_LINK ${source} ${cross_headers}/${name} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${cross_headers} PARENT_SCOPE)
endfunction()

if(WIN32 AND CMAKE_CROSSCOMPILING AND KESTRUN_WINDOWS_LIBS)
  if(NOT EXISTS ${KESTRUN_WINDOWS_LIBS}/.kestrun-stamp)
    message(FATAL_ERROR "KESTRUN_WINDOWS_LIBS=${KESTRUN_WINDOWS_LIBS} holds no finished library build; run scripts/windows-libs.sh")
  endif()
  find_package(CURL CONFIG REQUIRED PATHS ${KESTRUN_WINDOWS_LIBS}/lib/cmake/CURL
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_package(FLTK CONFIG REQUIRED PATHS ${KESTRUN_WINDOWS_LIBS}/CMake
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  add_library(kestrun_curl INTERFACE)
  target_link_libraries(kestrun_curl INTERFACE CURL::libcurl_static)
  add_library(kestrun_fltk INTERFACE)
  # FLTK's package names its include directory by the absolute prefix it was built for; the
  # prefix may have been copied from the machine's cache since.
  target_include_directories(kestrun_fltk SYSTEM INTERFACE ${KESTRUN_WINDOWS_LIBS}/include)
  target_link_libraries(kestrun_fltk INTERFACE fltk_images fltk)
  # nlohmann-json is header-only: the host's copy serves.
  kestrun_cross_headers(json_headers "nlohmann=/usr/include/nlohmann" "rapidjson=/usr/include/rapidjson")
  add_library(kestrun_json INTERFACE)
  target_include_directories(kestrun_json SYSTEM INTERFACE ${json_headers})
elseif(WIN32 AND CMAKE_CROSSCOMPILING)
  set(KESTRUN_FULL_BUILD OFF)
  message(STATUS "No KESTRUN_WINDOWS_LIBS: compile check only; Kestrun.exe is not built")
  kestrun_cross_headers(cross_headers
    "curl=/usr/include/x86_64-linux-gnu/curl" "FL=/usr/include/FL" "nlohmann=/usr/include/nlohmann"
    "rapidjson=/usr/include/rapidjson")
  add_library(kestrun_curl INTERFACE)
  target_include_directories(kestrun_curl SYSTEM INTERFACE ${cross_headers})
  target_compile_definitions(kestrun_curl INTERFACE CURL_STATICLIB)
  add_library(kestrun_fltk INTERFACE)
  target_include_directories(kestrun_fltk SYSTEM INTERFACE ${cross_headers})
  add_library(kestrun_json INTERFACE)
  target_include_directories(kestrun_json SYSTEM INTERFACE ${cross_headers})
else()
  find_package(CURL REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  # RapidJSON is header-only (Debian's rapidjson-dev, vcpkg's rapidjson); the manifest check
  # reads with it, so a build of the release tools alone goes without.
  if(KESTRUN_RELEASE_TOOLS_ONLY)
    find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h)
  else()
    find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h REQUIRED)
  endif()
  add_library(kestrun_curl INTERFACE)
  target_link_libraries(kestrun_curl INTERFACE CURL::libcurl)
  add_library(kestrun_json INTERFACE)
  target_link_libraries(kestrun_json INTERFACE nlohmann_json::nlohmann_json)
  if(RAPIDJSON_INCLUDE_DIR)
    target_include_directories(kestrun_json SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})
  endif()
  add_library(kestrun_fltk INTERFACE)
  if(NOT KESTRUN_RELEASE_TOOLS_ONLY)
    find_program(FLTK_CONFIG fltk-config)
  endif()
  if(KESTRUN_RELEASE_TOOLS_ONLY)
    # A release host has no desktop packages; nothing it builds links the toolkit.
  elseif(FLTK_CONFIG AND NOT WIN32)
    execute_process(COMMAND ${FLTK_CONFIG} --use-images --cxxflags
                    OUTPUT_VARIABLE fltk_cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${FLTK_CONFIG} --use-images --ldflags
                    OUTPUT_VARIABLE fltk_ldflags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(fltk_cxxflags UNIX_COMMAND "${fltk_cxxflags}")
    separate_arguments(fltk_ldflags UNIX_COMMAND "${fltk_ldflags}")
    # fltk-config lists cairo/glib include paths that we do not need; keep only FLTK's own flags.
    target_compile_options(kestrun_fltk INTERFACE ${fltk_cxxflags})
    target_link_libraries(kestrun_fltk INTERFACE ${fltk_ldflags} Xft fontconfig)
  else()
    find_package(FLTK REQUIRED)
    target_include_directories(kestrun_fltk INTERFACE ${FLTK_INCLUDE_DIR})
    target_link_libraries(kestrun_fltk INTERFACE ${FLTK_LIBRARIES})
  endif()
endif()

# FLTK 1.3's headers pick their Windows branch by WIN32, which a strict C++17 build with
# mingw does not define (only _WIN32).
if(WIN32)
  target_compile_definitions(kestrun_fltk INTERFACE WIN32)
endif()

add_library(kestrun::curl ALIAS kestrun_curl)
add_library(kestrun::fltk ALIAS kestrun_fltk)
add_library(kestrun::json ALIAS kestrun_json)

find_package(Threads REQUIRED)

if(KESTRUN_BUILD_TESTS)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # googletest 1.11 and later define these names themselves.
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

# cpp-httplib for the test servers and the release server. For Windows its header-only form
# sits in the library prefix. Debian builds the library
# with TLS, zlib and brotli switched on, which changes the layout of its types: every user
# must compile with the same switches.
if(NOT WIN32)
  find_library(HTTPLIB_LIBRARY cpp-httplib)
  find_package(OpenSSL)
  find_package(ZLIB)
  find_library(BROTLIDEC_LIBRARY brotlidec)
  find_library(BROTLIENC_LIBRARY brotlienc)
  if(HTTPLIB_LIBRARY AND OPENSSL_FOUND AND ZLIB_FOUND AND BROTLIDEC_LIBRARY AND BROTLIENC_LIBRARY)
    add_library(kestrun_httplib INTERFACE)
    target_compile_definitions(kestrun_httplib INTERFACE
      CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT CPPHTTPLIB_BROTLI_SUPPORT)
    target_link_libraries(kestrun_httplib INTERFACE ${HTTPLIB_LIBRARY} OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB
      ${BROTLIDEC_LIBRARY} ${BROTLIENC_LIBRARY} Threads::Threads)
    add_library(kestrun::httplib ALIAS kestrun_httplib)
  endif()
elseif(KESTRUN_FULL_BUILD AND EXISTS ${KESTRUN_WINDOWS_LIBS}/include/httplib.h)
  add_library(kestrun_httplib INTERFACE)
  target_include_directories(kestrun_httplib SYSTEM INTERFACE ${KESTRUN_WINDOWS_LIBS}/include)
  target_link_libraries(kestrun_httplib INTERFACE ws2_32 Threads::Threads)
  add_library(kestrun::httplib ALIAS kestrun_httplib)
endif()

# A library that Linux takes from Debian through pkg-config and that a Windows build without
# KESTRUN_WINDOWS_LIBS compiles against through the host's headers only (name=path pairs for
# kestrun_cross_headers). Sets <target>_windows_link in the caller when a Windows build must
# still link the library itself.
function(kestrun_packaged_library target module)
  add_library(${target} INTERFACE)
  set(${target}_windows_link OFF PARENT_SCOPE)
  if(WIN32 AND CMAKE_CROSSCOMPILING AND NOT KESTRUN_WINDOWS_LIBS)
    kestrun_cross_headers(headers ${ARGN})
    target_include_directories(${target} SYSTEM INTERFACE ${headers})
  elseif(WIN32)
    set(${target}_windows_link ON PARENT_SCOPE)
  else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(${target}_found REQUIRED IMPORTED_TARGET ${module})
    target_link_libraries(${target} INTERFACE PkgConfig::${target}_found)
  endif()
endfunction()

# libsodium (file hashes and manifest signatures): kestrun::sodium. Windows links the static
# build in KESTRUN_WINDOWS_LIBS, or a developer's own.
kestrun_packaged_library(kestrun_sodium libsodium "sodium.h=/usr/include/sodium.h" "sodium=/usr/include/sodium")
if(kestrun_sodium_windows_link)
  if(KESTRUN_WINDOWS_LIBS)
    set(sodium_search PATHS ${KESTRUN_WINDOWS_LIBS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  endif()
  find_path(SODIUM_INCLUDE_DIR sodium.h PATH_SUFFIXES include ${sodium_search} REQUIRED)
  find_library(SODIUM_LIBRARY NAMES libsodium.a sodium libsodium PATH_SUFFIXES lib ${sodium_search} REQUIRED)
  target_include_directories(kestrun_sodium SYSTEM INTERFACE ${SODIUM_INCLUDE_DIR})
  target_link_libraries(kestrun_sodium INTERFACE ${SODIUM_LIBRARY})
endif()
if(WIN32)
  # The static library's declarations must not be marked as imported from a DLL.
  target_compile_definitions(kestrun_sodium INTERFACE SODIUM_STATIC)
endif()
add_library(kestrun::sodium ALIAS kestrun_sodium)

# zstd (compressed copies and patches of release files): kestrun::zstd. Windows links the
# static build through zstd's own package file, from KESTRUN_WINDOWS_LIBS or a developer's own.
kestrun_packaged_library(kestrun_zstd libzstd "zstd.h=/usr/include/zstd.h" "zstd_errors.h=/usr/include/zstd_errors.h")
if(kestrun_zstd_windows_link)
  if(KESTRUN_WINDOWS_LIBS)
    set(zstd_search PATHS ${KESTRUN_WINDOWS_LIBS}/lib/cmake/zstd NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  endif()
  find_package(zstd CONFIG REQUIRED ${zstd_search})
  target_link_libraries(kestrun_zstd INTERFACE zstd::libzstd_static)
endif()
add_library(kestrun::zstd ALIAS kestrun_zstd)
