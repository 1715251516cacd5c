// Included before anything else in every file of the Windows build that sees Boost (see
// windows_dependencies.cmake).
//
// Asio picks its threads, mutexes and events once per file: POSIX ones when <pthread.h> came
// before its first header (libstdc++'s <mutex> and <thread> bring it in with MinGW's POSIX
// threads), Win32 ones otherwise. Files of one program that choose differently disagree on the
// layout of the io_context they share and write into the wrong fields of it. Win32 ones, since
// each DLL links a winpthread of its own and a pthread_t of one is unknown to another's join.
#pragma once
#include <boost/asio/detail/config.hpp>
#if defined(BOOST_ASIO_HAS_PTHREADS)
#error "Asio would use POSIX threads: this header must come first"
#endif
