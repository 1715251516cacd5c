#pragma once
// Windows: Asio picks its threads, mutexes and events once per file: POSIX ones when <pthread.h>
// came before its first header (libstdc++'s <mutex> and <thread> bring it in with MinGW's POSIX
// threads), Win32 ones otherwise. Files of one program that choose differently disagree on the
// layout of the io_context they share and write into the wrong fields of it. The libraries are
// built with Win32 ones (each DLL links a winpthread of its own, whose threads another's join
// does not know), so every file of a host must choose them too: this header comes first. The
// build puts it before each file (-include); the CMake package does the same for its users, and
// the public headers that use Asio include it, so a wrong order is a compile error, not a crash.
#if defined(_WIN32)
#include <boost/asio/detail/config.hpp>
#if defined(BOOST_ASIO_HAS_PTHREADS)
#error \
    "Asio chose POSIX threads here, the orvane libraries Win32 ones: include orvane's headers before <thread> and <mutex>, or compile with -include orvane/host/asio_threads.hpp"
#endif
#endif
