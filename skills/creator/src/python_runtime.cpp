// Binds the C API calls of python_runtime.hpp in the library that the platform's part found.
#include "python_runtime.hpp"

namespace orvane::skills::python {
namespace {

class Binder {
 public:
  explicit Binder(const Library& library) : _library(library) {}

  // A function or the address of a data symbol; a required one that is absent is noted.
  template <typename T>
  void operator()(T& slot, const char* name, bool required = true) {
    slot = reinterpret_cast<T>(_library.symbol(name));
    if (slot == nullptr && required) _absent += (_absent.empty() ? "" : ", ") + std::string(name);
  }
  const std::string& absent() const { return _absent; }

 private:
  const Library& _library;
  std::string _absent;
};

#define ORVANE_BIND(name, ...) bind(api.name, #name __VA_OPT__(, ) __VA_ARGS__)

std::string bind_all(const Library& library, Api& api) {
  Binder bind(library);
  ORVANE_BIND(Py_IsInitialized);
  ORVANE_BIND(Py_InitializeEx);
  ORVANE_BIND(PyEval_SaveThread);
  ORVANE_BIND(PyGILState_Ensure);
  ORVANE_BIND(PyGILState_Release);
  ORVANE_BIND(Py_DecRef);
  ORVANE_BIND(PyObject_Str);
  ORVANE_BIND(PyObject_Type);
  ORVANE_BIND(PyObject_GetAttrString);
  ORVANE_BIND(PyObject_CallFunction);
  ORVANE_BIND(PyImport_ImportModule);
  ORVANE_BIND(PyUnicode_DecodeUTF8);
  ORVANE_BIND(PyUnicode_AsEncodedString);
  ORVANE_BIND(PyBytes_AsString);
  ORVANE_BIND(PyBytes_Size);
  ORVANE_BIND(PyErr_Clear);
  ORVANE_BIND(PyErr_Fetch);
  ORVANE_BIND(PyErr_NormalizeException);
  ORVANE_BIND(PyErr_ExceptionMatches);
  ORVANE_BIND(PyErr_GivenExceptionMatches);
  ORVANE_BIND(PyUnicodeDecodeError_GetStart);
  ORVANE_BIND(PyUnicodeDecodeError_GetEnd);
  ORVANE_BIND(PyUnicodeDecodeError_GetReason);
  ORVANE_BIND(PyExc_SyntaxError);
  ORVANE_BIND(PyExc_UnicodeDecodeError);

  ORVANE_BIND(PyInitConfig_Create, false);
  ORVANE_BIND(PyInitConfig_Free, false);
  ORVANE_BIND(PyInitConfig_SetInt, false);
  ORVANE_BIND(PyInitConfig_SetStr, false);
  ORVANE_BIND(PyInitConfig_GetError, false);
  ORVANE_BIND(Py_InitializeFromInitConfig, false);
  const bool init_config = api.PyInitConfig_Create && api.PyInitConfig_Free &&
                           api.PyInitConfig_SetInt && api.PyInitConfig_SetStr &&
                           api.PyInitConfig_GetError && api.Py_InitializeFromInitConfig;
  // Without PyInitConfig the legacy start-up is the only one, and so required.
  ORVANE_BIND(PyPreConfig_InitIsolatedConfig, !init_config);
  ORVANE_BIND(Py_PreInitialize, !init_config);
  ORVANE_BIND(Py_SetPythonHome, !init_config);
  ORVANE_BIND(Py_IsolatedFlag, !init_config);
  ORVANE_BIND(Py_IgnoreEnvironmentFlag, !init_config);
  ORVANE_BIND(Py_NoSiteFlag, !init_config);
  ORVANE_BIND(Py_NoUserSiteDirectory, !init_config);
  ORVANE_BIND(Py_DontWriteBytecodeFlag, !init_config);
  ORVANE_BIND(Py_FrozenFlag, !init_config);
  if (!init_config) api.PyInitConfig_Create = nullptr;
  return bind.absent();
}

#undef ORVANE_BIND

Runtime load() {
  Runtime runtime;
  const Library library = find_library();
  if (!library.symbol) {
    runtime.missing = library.error;
    return runtime;
  }
  // Lives as long as the process: the library is never unloaded.
  static Api api{};
  if (const auto absent = bind_all(library, api); !absent.empty()) {
    runtime.missing = library.path + " lacks " + absent + " (Python 3.8 or later is needed)";
    return runtime;
  }
  runtime.api = &api;
  runtime.home = library.home;
  return runtime;
}

}  // namespace

const Runtime& runtime() {
  static const Runtime found = load();
  return found;
}

}  // namespace orvane::skills::python
