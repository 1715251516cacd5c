#include "python_syntax.hpp"

#include <algorithm>
#include <cstdio>

#include "orvane/common/unicode.hpp"
#include "orvane/skills/creator.hpp"
#include "python_runtime.hpp"

namespace orvane::skills {
namespace {

using python::Py_ssize_t;
using python::PyObject;

const python::Api& py() {
  return *python::runtime().api;
}

// One owned reference.
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) : _object(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (_object != nullptr) py().Py_DecRef(_object);
  }
  PyObject* get() const { return _object; }
  PyObject** out() { return &_object; }
  explicit operator bool() const { return _object != nullptr; }

 private:
  PyObject* _object;
};

// A text object as UTF-8; lone surrogates are written as escapes rather than failing.
std::optional<std::string> utf8_of(PyObject* text) {
  Ref bytes(text ? py().PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace") : nullptr);
  const char* data = bytes ? py().PyBytes_AsString(bytes.get()) : nullptr;
  if (data == nullptr) {
    py().PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, std::size_t(py().PyBytes_Size(bytes.get())));
}

// The __name__ of a type, such as "ValueError".
std::string type_name(PyObject* type) {
  Ref name(py().PyObject_GetAttrString(type, "__name__"));
  return utf8_of(name.get()).value_or("?");
}

// str(object) as UTF-8.
std::string str_of(PyObject* object) {
  Ref text(py().PyObject_Str(object));
  if (auto out = utf8_of(text.get())) return *out;
  Ref type(py().PyObject_Type(object));
  return "<unprintable " + type_name(type.get()) + ">";
}

// UTF-8 as wchar_t text: UTF-16 on Windows, UTF-32 elsewhere.
std::wstring wide(const std::string& utf8) {
  std::wstring out;
  for (char32_t c : common::decode_utf8(utf8)) {
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      out += wchar_t(0xD800 + ((c - 0x10000) >> 10));
      out += wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += wchar_t(c);
    }
  }
  return out;
}

[[noreturn]] void cannot_start(const std::string& why) {
  throw CompileError("RuntimeError", "cannot start the Python interpreter: " + why);
}

// 3.14 and later: PyInitConfig starts from the isolated configuration.
void start_with_init_config(const python::Api& api, const std::string& home) {
  python::PyInitConfig* config = api.PyInitConfig_Create();
  if (config == nullptr) cannot_start("out of memory");
  bool done = true;
  for (const char* option : {"site_import", "install_signal_handlers", "write_bytecode",
                             "user_site_directory", "pathconfig_warnings"}) {
    done = done && api.PyInitConfig_SetInt(config, option, 0) == 0;
  }
  done = done && (home.empty() || api.PyInitConfig_SetStr(config, "home", home.c_str()) == 0);
  done = done && api.Py_InitializeFromInitConfig(config) == 0;
  const char* error = nullptr;
  if (!done) api.PyInitConfig_GetError(config, &error);
  const std::string why = error != nullptr ? error : "unknown error";
  api.PyInitConfig_Free(config);
  if (!done) cannot_start(why);
}

// Before 3.14: PyConfig's layout differs between versions, so the isolated pre-configuration
// (which leaves the process's locale alone) is made by the runtime itself, and the rest is said
// through the global flags that Py_InitializeEx reads.
void start_with_flags(const python::Api& api, const std::string& home) {
  // PyPreConfig, filled and read by the runtime only: room for any version's.
  alignas(16) unsigned char preconfig[512] = {};
  api.PyPreConfig_InitIsolatedConfig(preconfig);
  const python::PyStatus status = api.Py_PreInitialize(preconfig);
  if (status.type != 0) cannot_start(status.err_msg != nullptr ? status.err_msg : "unknown error");
  for (int* flag : {api.Py_IsolatedFlag, api.Py_IgnoreEnvironmentFlag, api.Py_NoSiteFlag,
                    api.Py_NoUserSiteDirectory, api.Py_DontWriteBytecodeFlag, api.Py_FrozenFlag}) {
    *flag = 1;  // Py_FrozenFlag: no warnings about the search path
  }
  // Older runtimes keep the pointer rather than a copy.
  static const std::wstring wide_home = wide(home);
  if (!home.empty()) api.Py_SetPythonHome(wide_home.c_str());
  api.Py_InitializeEx(0);  // 0: no signal handlers
}

// Starts the interpreter when the process has none: isolated from the environment and the user's
// site, with no signal handlers and no bytecode files. The GIL is then released, so that it is
// held only while compiling.
void ensure_interpreter() {
  static const bool started = [] {
    const auto& api = py();
    if (api.Py_IsInitialized()) return false;
    const std::string& home = python::runtime().home;
    if (api.PyInitConfig_Create != nullptr) {
      start_with_init_config(api, home);
    } else {
      start_with_flags(api, home);
    }
    api.PyEval_SaveThread();
    return true;
  }();
  (void)started;
}

// Holds the GIL for one scope, from whichever thread.
class Gil {
 public:
  Gil() : _state(py().PyGILState_Ensure()) {}
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;
  ~Gil() { py().PyGILState_Release(_state); }

 private:
  python::PyGILState_STATE _state;
};

// The pending Python exception as a result: the SyntaxError's text, or a CompileError thrown.
std::string syntax_error_or_throw() {
  Ref type, value, traceback;
  py().PyErr_Fetch(type.out(), value.out(), traceback.out());
  py().PyErr_NormalizeException(type.out(), value.out(), traceback.out());
  if (!type) throw CompileError("SystemError", "the compiler failed without an exception");
  const std::string message = value ? str_of(value.get()) : "";
  if (py().PyErr_GivenExceptionMatches(type.get(), *py().PyExc_SyntaxError)) return message;
  throw CompileError(type_name(type.get()), message);
}

// A file name the compiler accepts: it refuses NULs, and this name only labels its messages.
std::string compiler_file_name(std::string_view filename) {
  std::string out;
  for (char c : filename) {
    if (c == '\0') {
      out += "\uFFFD";
    } else {
      out += c;
    }
  }
  return out;
}

// Code that is not UTF-8 is refused as the compiler refuses a source file that it cannot decode:
// a syntax error naming the file and the line, the bad byte's position counted within its line.
// Takes the pending UnicodeDecodeError.
std::string undecodable_source_message(std::string_view code, const std::string& filename) {
  Ref type, value, traceback;
  py().PyErr_Fetch(type.out(), value.out(), traceback.out());
  py().PyErr_NormalizeException(type.out(), value.out(), traceback.out());
  Py_ssize_t begin = 0, end = 1;
  py().PyUnicodeDecodeError_GetStart(value.get(), &begin);
  py().PyUnicodeDecodeError_GetEnd(value.get(), &end);
  Ref reason_object(py().PyUnicodeDecodeError_GetReason(value.get()));
  py().PyErr_Clear();
  const std::string reason = reason_object ? str_of(reason_object.get()) : "invalid data";
  const std::size_t first = std::min(std::size_t(begin), code.size() - 1);
  const std::size_t count = std::max<Py_ssize_t>(end - begin, 1);

  const std::string_view before = code.substr(0, first);
  const std::size_t newline = before.find_last_of('\n');
  const std::size_t column = newline == std::string_view::npos ? first : first - newline - 1;
  const std::size_t line = 1 + std::size_t(std::count(before.begin(), before.end(), '\n'));
  char what[96];
  if (count == 1) {
    std::snprintf(what, sizeof what, "can't decode byte 0x%02x in position %zu",
                  unsigned(static_cast<unsigned char>(code[first])), column);
  } else {
    std::snprintf(what, sizeof what, "can't decode bytes in position %zu-%zu", column,
                  column + count - 1);
  }
  return "(unicode error) 'utf-8' codec " + std::string(what) + ": " + reason + " (" +
         common::replace_invalid_utf8(filename) + ", line " + std::to_string(line) + ")";
}

}  // namespace

std::optional<std::string> python_missing() {
  const auto& runtime = python::runtime();
  if (runtime.api != nullptr) return std::nullopt;
  return runtime.missing;
}

std::optional<std::string> python_syntax_error(std::string_view code, std::string_view filename) {
  if (const auto missing = python_missing()) throw CompileError("ImportError", *missing);
  ensure_interpreter();
  Gil gil;
  const std::string name = compiler_file_name(filename);
  // Text objects carry their length, so a NUL reaches the compiler instead of ending the code.
  Ref source(py().PyUnicode_DecodeUTF8(code.data(), Py_ssize_t(code.size()), "strict"));
  if (!source && py().PyErr_ExceptionMatches(*py().PyExc_UnicodeDecodeError))
    return undecodable_source_message(code, name);
  Ref file(source ? py().PyUnicode_DecodeUTF8(name.data(), Py_ssize_t(name.size()), "replace")
                  : nullptr);
  Ref builtins(file ? py().PyImport_ImportModule("builtins") : nullptr);
  Ref compile(builtins ? py().PyObject_GetAttrString(builtins.get(), "compile") : nullptr);
  if (!compile) return syntax_error_or_throw();
  Ref code_object(
      py().PyObject_CallFunction(compile.get(), "OOsii", source.get(), file.get(), "exec", 0, 1));
  if (!code_object) return syntax_error_or_throw();
  return std::nullopt;
}

}  // namespace orvane::skills
