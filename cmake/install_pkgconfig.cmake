# Run at install time for one pkg-config file: its Libs line carries an rpath to the installed
# libraries unless they go to a folder the dynamic loader searches anyway, so that a host built
# with `pkg-config --libs` runs without LD_LIBRARY_PATH. Only the install step knows the prefix
# (`cmake --install --prefix`). Takes ORVANE_PC_IN, ORVANE_PC_OUT, ORVANE_LIBDIR, ORVANE_PC_DIR
# and ORVANE_SYSTEM_LIBDIRS.
set(libdir "${CMAKE_INSTALL_PREFIX}/${ORVANE_LIBDIR}")
if(IS_ABSOLUTE "${ORVANE_LIBDIR}")
  set(libdir "${ORVANE_LIBDIR}")
endif()
cmake_path(NORMAL_PATH libdir)
string(REGEX REPLACE "/$" "" libdir "${libdir}")
list(FIND ORVANE_SYSTEM_LIBDIRS "${libdir}" system)
set(PC_RPATH " -Wl,-rpath,\${libdir}")
if(system GREATER -1)
  set(PC_RPATH "")
endif()
configure_file("${ORVANE_PC_IN}" "${ORVANE_PC_OUT}" @ONLY)
file(INSTALL "${ORVANE_PC_OUT}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${ORVANE_PC_DIR}")
