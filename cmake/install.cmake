# Installation as C++ hosts expect it: the shared libraries with a version and a SONAME, their
# public headers, the host layer, the orvane program, a CMake package (find_package(orvane)) and
# pkg-config files. Included once from the top level, after every folder has made its targets.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvane)
set(ORVANE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# From the pkg-config folder back to the prefix, so that an installed tree can be moved.
file(RELATIVE_PATH ORVANE_PC_TO_PREFIX "/${ORVANE_PKGCONFIG_DIR}" "/")
string(REGEX REPLACE "/$" "" ORVANE_PC_TO_PREFIX "${ORVANE_PC_TO_PREFIX}")

# Exports a library as orvane::<name>, with its headers from `include_dir`, and writes
# orvane-<name>.pc. `requires` are the pkg-config packages its public headers need.
function(orvane_install_library target name include_dir description requires)
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${name}
    OUTPUT_NAME orvane_${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  # The include folders are the source tree's; installed, the headers are under include/.
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(build_dirs)
  foreach(dir ${dirs})
    list(APPEND build_dirs "$<BUILD_INTERFACE:${dir}>")
  endforeach()
  set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${build_dirs})
  # On Windows the DLL goes beside the program (bin/), its import library to lib/.
  install(TARGETS ${target} EXPORT orvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${include_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  if(WIN32)
    return()  # a MinGW host takes the CMake package; pkg-config is for Linux hosts
  endif()

  set(PC_NAME orvane-${name})
  set(PC_DESCRIPTION "${description}")
  set(PC_REQUIRES "${requires}")
  set(PC_LIBS "-lorvane_${name}")
  set(PC_CFLAGS "")
  if(name STREQUAL "host")
    set(PC_LIBS "${PC_LIBS} -pthread")
    set(PC_CFLAGS "-DBOOST_ASIO_NO_DEPRECATED")
  endif()
  # The rpath is chosen at install time (cmake/install_pkgconfig.cmake).
  set(PC_RPATH "@PC_RPATH@")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/orvane.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/orvane-${name}.pc.in @ONLY)
  install(CODE "
    set(ORVANE_PC_IN \"${PROJECT_BINARY_DIR}/pkgconfig/orvane-${name}.pc.in\")
    set(ORVANE_PC_OUT \"${PROJECT_BINARY_DIR}/pkgconfig/orvane-${name}.pc\")
    set(ORVANE_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(ORVANE_PC_DIR \"${ORVANE_PKGCONFIG_DIR}\")
    set(ORVANE_SYSTEM_LIBDIRS \"${ORVANE_SYSTEM_LIBDIRS}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_pkgconfig.cmake\")")
endfunction()

# Folders the dynamic loader searches without an rpath.
set(ORVANE_SYSTEM_LIBDIRS ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
    ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(REMOVE_DUPLICATES ORVANE_SYSTEM_LIBDIRS)

orvane_install_library(orvane_host host ${PROJECT_SOURCE_DIR}/host/include
  "Host services of the Orvane components: configuration, logging, event loop, model client"
  "spdlog nlohmann_json")
if(WIN32)
  # A MinGW host's files must choose Asio's threads as the libraries did (see there).
  target_compile_options(orvane_host INTERFACE
    "$<INSTALL_INTERFACE:$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include orvane/host/asio_threads.hpp>>")
endif()
foreach(entry
    "scheduler|core/scheduler|Persistent cron-based task scheduler"
    "summarizer|core/summarizer|Conversation summarizer"
    "deskhand|pc/deskhand|Desktop-action executor for the computer-use tool"
    "creator|skills/creator|Skill creator")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 folder)
  list(GET entry 2 description)
  if(TARGET ${name})
    orvane_install_library(${name} ${name} ${PROJECT_SOURCE_DIR}/${folder}/include
      "${description}" "orvane-host")
  endif()
endforeach()
# The desktop executor's screenshot benchmark draws on the display with Xlib through the
# library's link interface; users of the installed library do not need X11.
if(TARGET deskhand)
  get_target_property(links deskhand INTERFACE_LINK_LIBRARIES)
  list(TRANSFORM links REPLACE "^X11::X11$" "$<BUILD_INTERFACE:X11::X11>")
  set_property(TARGET deskhand PROPERTY INTERFACE_LINK_LIBRARIES ${links})
endif()

if(TARGET orvane)
  set_target_properties(orvane PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT orvaneTargets NAMESPACE orvane:: DESTINATION ${ORVANE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvaneConfig.cmake INSTALL_DESTINATION ${ORVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvaneConfig.cmake ${PROJECT_BINARY_DIR}/orvaneConfigVersion.cmake
  DESTINATION ${ORVANE_CMAKE_DIR})

if(WIN32)
  return()  # the Windows package is checked by scripts/package-windows
endif()

# A host outside this tree, built against an installed copy with find_package and with
# pkg-config, then run.
set(ORVANE_CONSUMER_FLAGS "")
if(ORVANE_SANITIZE)
  set(ORVANE_CONSUMER_FLAGS "-fsanitize=address,undefined -fno-sanitize-recover=all")
endif()
add_test(NAME package_consumer
  COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/consumer/run.sh ${PROJECT_BINARY_DIR}
          ${CMAKE_CXX_COMPILER} "${ORVANE_CONSUMER_FLAGS}")
set_tests_properties(package_consumer PROPERTIES TIMEOUT 600)
if(ORVANE_SANITIZE AND TARGET creator)
  # The consumer makes a script skill: the creator's embedded Python is never shut down.
  set_tests_properties(package_consumer PROPERTIES ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/skills/creator/tests/lsan.supp:print_suppressions=0")
endif()
