#pragma once
// The Python runtime that compiles script skills, loaded at run time: the user's own Python on
// Windows, the Python of the build's prefix on Linux. Only the few C API calls that the creator
// makes are bound, as plain functions and data symbols, so no Python header is needed and any
// Python 3.8 or later serves.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orvane::skills::python {

// The C API's types, used through pointers only.
struct PyObject;
struct PyThreadState;
struct PyInitConfig;
using Py_ssize_t = std::ptrdiff_t;
using PyGILState_STATE = int;

// The status that Py_PreInitialize returns by value; one layout since 3.8.
struct PyStatus {
  int type;
  const char* func;
  const char* err_msg;
  int exitcode;
};

struct Api {
  int (*Py_IsInitialized)();
  void (*Py_InitializeEx)(int);
  PyThreadState* (*PyEval_SaveThread)();
  PyGILState_STATE (*PyGILState_Ensure)();
  void (*PyGILState_Release)(PyGILState_STATE);
  void (*Py_DecRef)(PyObject*);
  PyObject* (*PyObject_Str)(PyObject*);
  PyObject* (*PyObject_Type)(PyObject*);
  PyObject* (*PyObject_GetAttrString)(PyObject*, const char*);
  PyObject* (*PyObject_CallFunction)(PyObject*, const char*, ...);
  PyObject* (*PyImport_ImportModule)(const char*);
  PyObject* (*PyUnicode_DecodeUTF8)(const char*, Py_ssize_t, const char*);
  PyObject* (*PyUnicode_AsEncodedString)(PyObject*, const char*, const char*);
  char* (*PyBytes_AsString)(PyObject*);
  Py_ssize_t (*PyBytes_Size)(PyObject*);
  void (*PyErr_Clear)();
  void (*PyErr_Fetch)(PyObject**, PyObject**, PyObject**);
  void (*PyErr_NormalizeException)(PyObject**, PyObject**, PyObject**);
  int (*PyErr_ExceptionMatches)(PyObject*);
  int (*PyErr_GivenExceptionMatches)(PyObject*, PyObject*);
  int (*PyUnicodeDecodeError_GetStart)(PyObject*, Py_ssize_t*);
  int (*PyUnicodeDecodeError_GetEnd)(PyObject*, Py_ssize_t*);
  PyObject* (*PyUnicodeDecodeError_GetReason)(PyObject*);
  PyObject** PyExc_SyntaxError;
  PyObject** PyExc_UnicodeDecodeError;

  // Start-up through PyInitConfig (3.14 and later); null where the runtime lacks it.
  PyInitConfig* (*PyInitConfig_Create)();
  void (*PyInitConfig_Free)(PyInitConfig*);
  int (*PyInitConfig_SetInt)(PyInitConfig*, const char*, std::int64_t);
  int (*PyInitConfig_SetStr)(PyInitConfig*, const char*, const char*);
  int (*PyInitConfig_GetError)(PyInitConfig*, const char**);
  int (*Py_InitializeFromInitConfig)(PyInitConfig*);

  // Start-up before 3.14: an isolated pre-configuration, then the global flags (gone in 3.15).
  void (*PyPreConfig_InitIsolatedConfig)(void*);
  PyStatus (*Py_PreInitialize)(const void*);
  void (*Py_SetPythonHome)(const wchar_t*);
  int* Py_IsolatedFlag;
  int* Py_IgnoreEnvironmentFlag;
  int* Py_NoSiteFlag;
  int* Py_NoUserSiteDirectory;
  int* Py_DontWriteBytecodeFlag;
  int* Py_FrozenFlag;
};

// What this process compiles with: `api` is null when no usable runtime was found, and
// `missing` then says what was looked for. Found once; later calls give the same answer.
struct Runtime {
  const Api* api = nullptr;
  std::string home;  // UTF-8; the home to start the interpreter with, when it has to be started
  std::string missing;
};
const Runtime& runtime();

// The platform's part: the library found (where the process already has one loaded, that one)
// as a symbol lookup, or `error` saying what was tried. ORVANE_PYTHON_LIBRARY names the library
// file to load instead of searching; ORVANE_PYTHON_HOME the home to start it with.
struct Library {
  std::function<void*(const char*)> symbol;
  std::string path;  // UTF-8
  std::string home;
  std::string error;
};
Library find_library();

}  // namespace orvane::skills::python
