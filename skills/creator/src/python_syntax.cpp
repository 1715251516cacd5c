#define PY_SSIZE_T_CLEAN
#include <Python.h>
// Python.h comes first, as the C API asks.
#include "python_syntax.hpp"

#include <algorithm>
#include <cstdio>

#include "orvane/common/unicode.hpp"
#include "orvane/skills/creator.hpp"

namespace orvane::skills {
namespace {

// One owned reference.
class Ref {
 public:
  explicit Ref(PyObject* object = nullptr) : _object(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(_object); }
  PyObject* get() const { return _object; }
  PyObject** out() { return &_object; }
  explicit operator bool() const { return _object != nullptr; }

 private:
  PyObject* _object;
};

// str(object) as UTF-8; lone surrogates are written as escapes rather than failing.
std::string str_of(PyObject* object) {
  Ref text(PyObject_Str(object));
  Ref bytes(text ? PyUnicode_AsEncodedString(text.get(), "utf-8", "backslashreplace") : nullptr);
  if (!bytes) {
    PyErr_Clear();
    return "<unprintable " + std::string(Py_TYPE(object)->tp_name) + ">";
  }
  return std::string(PyBytes_AS_STRING(bytes.get()), std::size_t(PyBytes_GET_SIZE(bytes.get())));
}

// Starts the interpreter when the process has none: isolated from the environment and the user's
// site, with no signal handlers and no bytecode files. The GIL is then released, so that it is
// held only while compiling.
void ensure_interpreter() {
  static const bool started = [] {
    if (Py_IsInitialized()) return false;
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.site_import = 0;
    config.install_signal_handlers = 0;
    config.write_bytecode = 0;
    config.user_site_directory = 0;
    config.pathconfig_warnings = 0;
    // The standard library of the Python this library was built against, whatever is on PATH.
    PyStatus status = PyConfig_SetBytesString(&config, &config.home, ORVANE_PYTHON_HOME);
    if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
      throw CompileError("RuntimeError", std::string("cannot start the Python interpreter: ") +
                                             (status.err_msg ? status.err_msg : "unknown error"));
    }
    PyEval_SaveThread();
    return true;
  }();
  (void)started;
}

// Holds the GIL for one scope, from whichever thread.
class Gil {
 public:
  Gil() : _state(PyGILState_Ensure()) {}
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;
  ~Gil() { PyGILState_Release(_state); }

 private:
  PyGILState_STATE _state;
};

// The pending Python exception as a result: the SyntaxError's text, or a CompileError thrown.
std::string syntax_error_or_throw() {
  Ref type, value, traceback;
  PyErr_Fetch(type.out(), value.out(), traceback.out());
  PyErr_NormalizeException(type.out(), value.out(), traceback.out());
  if (!type) throw CompileError("SystemError", "the compiler failed without an exception");
  const std::string message = value ? str_of(value.get()) : "";
  if (PyErr_GivenExceptionMatches(type.get(), PyExc_SyntaxError)) return message;
  throw CompileError(reinterpret_cast<PyTypeObject*>(type.get())->tp_name, message);
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
  PyErr_Fetch(type.out(), value.out(), traceback.out());
  PyErr_NormalizeException(type.out(), value.out(), traceback.out());
  Py_ssize_t begin = 0, end = 1;
  PyUnicodeDecodeError_GetStart(value.get(), &begin);
  PyUnicodeDecodeError_GetEnd(value.get(), &end);
  Ref reason_object(PyUnicodeDecodeError_GetReason(value.get()));
  PyErr_Clear();
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

std::optional<std::string> python_syntax_error(std::string_view code, std::string_view filename) {
  ensure_interpreter();
  Gil gil;
  const std::string name = compiler_file_name(filename);
  // Text objects carry their length, so a NUL reaches the compiler instead of ending the code.
  Ref source(PyUnicode_DecodeUTF8(code.data(), Py_ssize_t(code.size()), "strict"));
  if (!source && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError))
    return undecodable_source_message(code, name);
  Ref file(source ? PyUnicode_DecodeUTF8(name.data(), Py_ssize_t(name.size()), "replace")
                  : nullptr);
  Ref builtins(file ? PyImport_ImportModule("builtins") : nullptr);
  Ref compile(builtins ? PyObject_GetAttrString(builtins.get(), "compile") : nullptr);
  if (!compile) return syntax_error_or_throw();
  Ref code_object(
      PyObject_CallFunction(compile.get(), "OOsii", source.get(), file.get(), "exec", 0, 1));
  if (!code_object) return syntax_error_or_throw();
  return std::nullopt;
}

}  // namespace orvane::skills
