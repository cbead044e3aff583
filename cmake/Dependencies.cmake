# Provides trellis::expat, trellis::libmsi (POSIX only) and trellis::gtest_main.
find_package(PkgConfig REQUIRED)

if(CMAKE_CROSSCOMPILING)
  # Expat built from Debian's source package with wchar_t text (scripts/setup.sh).
  set(TRELLIS_EXPAT_PREFIX "${CMAKE_SOURCE_DIR}/build/deps/expat-${CMAKE_SYSTEM_PROCESSOR}" CACHE PATH
    "Expat built for this target with XML_UNICODE_WCHAR_T")
  find_library(TRELLIS_EXPAT_LIB NAMES expatw libexpatw.a
    PATHS ${TRELLIS_EXPAT_PREFIX}/lib NO_DEFAULT_PATH)
  if(NOT TRELLIS_EXPAT_LIB)
    message(FATAL_ERROR "No wchar_t Expat (libexpatw.a) in ${TRELLIS_EXPAT_PREFIX}/lib: "
      "run scripts/setup.sh or set TRELLIS_EXPAT_PREFIX")
  endif()
  add_library(trellis::expat STATIC IMPORTED)
  set_target_properties(trellis::expat PROPERTIES
    IMPORTED_LOCATION ${TRELLIS_EXPAT_LIB}
    INTERFACE_INCLUDE_DIRECTORIES ${TRELLIS_EXPAT_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS "XML_STATIC;XML_UNICODE;XML_UNICODE_WCHAR_T")
else()
  # Debian's libexpatw: the same parser with UTF-16 XML_Char.
  find_library(TRELLIS_EXPATW_LIB NAMES expatw REQUIRED)
  add_library(trellis::expat UNKNOWN IMPORTED)
  set_target_properties(trellis::expat PROPERTIES
    IMPORTED_LOCATION ${TRELLIS_EXPATW_LIB}
    INTERFACE_COMPILE_DEFINITIONS "XML_UNICODE")
  pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)
  add_library(trellis::libmsi ALIAS PkgConfig::LIBMSI)
endif()

if(TRELLIS_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    set(TRELLIS_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-compile")
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TRELLIS_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(trellis::gtest_main ALIAS gtest_main)
  else()
    find_package(GTest REQUIRED)
    add_library(trellis::gtest_main ALIAS GTest::gtest_main)
  endif()
endif()
