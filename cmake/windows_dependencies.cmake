# The dependencies of the cross build for Windows, under the names find_package gives them on
# Linux. The header-only ones reach the cross compiler through a folder of their own that links
# to just their headers: the rest of /usr/include is made for Linux. GoogleTest is built for the
# target from the sources Debian ships (which name its targets GTest::gtest, GTest::gmock, ...).
set(ORVANE_WINDOWS_HEADERS ${CMAKE_BINARY_DIR}/windows-headers)
file(MAKE_DIRECTORY ${ORVANE_WINDOWS_HEADERS})
foreach(dir boost nlohmann spdlog fmt CLI)
  if(NOT IS_DIRECTORY /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${ORVANE_WINDOWS_HEADERS}/${dir} SYMBOLIC)
endforeach()

# Windows 10 and later; min and max stay std::min and std::max where <windows.h> is included.
add_compile_definitions(_WIN32_WINNT=0x0A00 NOMINMAX)

function(orvane_header_only name)
  add_library(${name} INTERFACE IMPORTED GLOBAL)
  # Imported include folders are -isystem: warnings inside them are not ours.
  set_target_properties(${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${ORVANE_WINDOWS_HEADERS}
                                           ${ARGN})
endfunction()

# Asio needs Winsock (mswsock for AcceptEx); Boost.UUID's random generator the system's (bcrypt).
# A list does not pass through set_target_properties, which reads it as more name-value pairs.
orvane_header_only(Boost::headers)
target_link_libraries(Boost::headers INTERFACE ws2_32 mswsock bcrypt)
# Every file that sees Asio makes the same choice of threads (see orvane/host/asio_threads.hpp).
target_compile_options(
  Boost::headers INTERFACE
  "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/host/include/orvane/host/asio_threads.hpp>")
orvane_header_only(nlohmann_json::nlohmann_json)
orvane_header_only(CLI11::CLI11)
orvane_header_only(fmt::fmt INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)
# Debian's spdlog is configured for the external fmt (SPDLOG_FMT_EXTERNAL in its tweakme.h);
# without SPDLOG_COMPILED_LIB it compiles its own sources inline.
orvane_header_only(spdlog::spdlog INTERFACE_COMPILE_DEFINITIONS "SPDLOG_FMT_EXTERNAL=1"
                   INTERFACE_LINK_LIBRARIES fmt::fmt)

# GoogleTest with its own warning flags: ours (-Werror above all) are for our code.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
get_directory_property(orvane_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${orvane_options}")
