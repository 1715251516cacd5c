#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvane/host/process.hpp"
#include "process_text.hpp"
#include "win_text.hpp"

namespace orvane::host {
namespace {

constexpr DWORD READ_CHUNK = 65536;
constexpr DWORD WRITE_CHUNK = 1 << 20;

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  Handle(Handle&& other) noexcept : h(std::exchange(other.h, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    reset();
    h = std::exchange(other.h, nullptr);
    return *this;
  }
  ~Handle() { reset(); }
  void reset() {
    if (h != nullptr) ::CloseHandle(std::exchange(h, nullptr));
  }
  explicit operator bool() const { return h != nullptr; }
};

[[noreturn]] void fail(const std::string& what, DWORD error = ::GetLastError()) {
  throw ProcessError(what + ": " + win::error_text(error));
}

// The parent's end of a pipe to the child. Overlapped, so that one thread waits for the child's
// output, its input and its end at once, and can stop waiting for a pipe that a grandchild keeps.
struct ParentPipe {
  Handle handle;
  Handle event;
  OVERLAPPED ov{};
  bool pending = false;

  ~ParentPipe() { close(); }
  bool open() const { return static_cast<bool>(handle); }
  // Ends a pending transfer; returns the bytes it had moved.
  DWORD cancel() {
    DWORD moved = 0;
    if (pending) {
      ::CancelIoEx(handle.h, &ov);
      if (!::GetOverlappedResult(handle.h, &ov, &moved, TRUE)) moved = 0;
      pending = false;
    }
    return moved;
  }
  void close() {
    cancel();
    handle.reset();
  }
};

// Makes a pipe whose parent end is `parent` and returns the child's end, inheritable.
Handle make_pipe(ParentPipe& parent, bool parent_reads) {
  static std::atomic<unsigned> serial{0};
  const std::wstring name = L"\\\\.\\pipe\\orvane-" + std::to_wstring(::GetCurrentProcessId()) +
                            L"-" + std::to_wstring(serial++) + L"-" +
                            std::to_wstring(::GetTickCount64());
  const DWORD direction = parent_reads ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND;
  parent.handle = Handle(::CreateNamedPipeW(
      name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, READ_CHUNK,
      READ_CHUNK, 0, nullptr));
  if (!parent.handle) fail("CreateNamedPipe");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const DWORD access =
      parent_reads ? GENERIC_WRITE | FILE_READ_ATTRIBUTES : GENERIC_READ | FILE_WRITE_ATTRIBUTES;
  Handle child(::CreateFileW(name.c_str(), access, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  if (!child) fail("opening the child's end of a pipe");
  parent.event = Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!parent.event) fail("CreateEvent");
  parent.ov.hEvent = parent.event.h;
  return child;
}

Handle open_nul() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr));
  if (!nul) fail("opening NUL");
  return nul;
}

// The caller's standard error, as an inheritable handle of its own; NUL when it has none.
Handle inheritable_stderr() {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  HANDLE copy = nullptr;
  if (err == nullptr || err == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), err, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return open_nul();
  }
  return Handle(copy);
}

bool is_file(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_image_name(std::wstring_view name) {
  if (name.size() < 4) return false;
  std::wstring ext(name.substr(name.size() - 4));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](wchar_t c) { return ::towlower(c); });
  return ext == L".exe" || ext == L".com";
}

// `base` as given when it names a program image, else with .exe or .com appended. Batch files
// are not run: their arguments would pass through cmd.exe's own parser.
std::optional<std::wstring> image_at(const std::wstring& base) {
  if (is_image_name(base) && is_file(base)) return base;
  for (const wchar_t* ext : {L".exe", L".com"}) {
    if (is_file(base + ext)) return base + ext;
  }
  return std::nullopt;
}

// The program a name runs: a path as given, a bare name looked up on PATH.
std::optional<std::wstring> find_program(const std::string& program) {
  if (program.empty()) return std::nullopt;
  const std::wstring name = win::wide(program);
  if (name.find_first_of(L"\\/:") != std::wstring::npos) return image_at(name);
  const std::wstring path = win::environment_variable(L"PATH");
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find(L';', start), path.size());
    std::wstring dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.size() >= 2 && dir.front() == L'"' && dir.back() == L'"')
      dir = dir.substr(1, dir.size() - 2);
    if (dir.empty()) continue;
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    if (auto found = image_at(dir + name)) return found;
  }
  return std::nullopt;
}

// One argument as CommandLineToArgvW (and the C runtime) reads it back: backslashes are literal
// except before a quote, where they double.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (auto it = arg.begin();; ++it) {
    std::size_t backslashes = 0;
    for (; it != arg.end() && *it == L'\\'; ++it) ++backslashes;
    if (it == arg.end()) {
      line.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    line += *it;
  }
  line += L'"';
}

std::wstring command_line_of(const std::vector<std::string>& args) {
  // The program name is read up to the next quote, without escapes.
  std::wstring line = L"\"" + win::wide(args[0]) + L"\"";
  for (std::size_t i = 1; i < args.size(); ++i) {
    line += L' ';
    append_quoted(line, win::wide(args[i]));
  }
  return line;
}

// The child's standard output, read as it comes.
class OutputReader {
 public:
  OutputReader(ParentPipe& pipe, std::string& output) : _pipe(pipe), _output(output) {}

  // Starts reads until one is pending or the pipe ends.
  void start() {
    while (_pipe.open() && !_pipe.pending) {
      ::ResetEvent(_pipe.event.h);
      DWORD n = 0;
      if (::ReadFile(_pipe.handle.h, _buffer.data(), READ_CHUNK, nullptr, &_pipe.ov) &&
          ::GetOverlappedResult(_pipe.handle.h, &_pipe.ov, &n, FALSE)) {
        _output.append(_buffer.data(), n);
      } else if (::GetLastError() == ERROR_IO_PENDING) {
        _pipe.pending = true;
      } else {
        _pipe.close();  // ERROR_BROKEN_PIPE: every writer is gone
      }
    }
  }
  // After the event fired.
  void complete() {
    DWORD n = 0;
    if (!_pipe.pending) return;
    if (::GetOverlappedResult(_pipe.handle.h, &_pipe.ov, &n, FALSE)) {
      _output.append(_buffer.data(), n);
    } else if (::GetLastError() == ERROR_IO_INCOMPLETE) {
      return;
    } else {
      _pipe.pending = false;
      _pipe.close();
      return;
    }
    _pipe.pending = false;
  }
  // After the child's end: what it wrote is in the pipe; a grandchild that holds the pipe open
  // must not keep the caller waiting for more.
  void drain() {
    complete();
    _output.append(_buffer.data(), _pipe.cancel());
    DWORD available = 0;
    while (_pipe.open() &&
           ::PeekNamedPipe(_pipe.handle.h, nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
      ::ResetEvent(_pipe.event.h);
      DWORD n = 0;
      if (!::ReadFile(_pipe.handle.h, _buffer.data(), std::min(available, READ_CHUNK), nullptr,
                      &_pipe.ov) &&
          ::GetLastError() != ERROR_IO_PENDING) {
        break;
      }
      if (!::GetOverlappedResult(_pipe.handle.h, &_pipe.ov, &n, TRUE)) break;
      _output.append(_buffer.data(), n);
    }
    _pipe.close();
  }

 private:
  ParentPipe& _pipe;
  std::string& _output;
  std::vector<char> _buffer = std::vector<char>(READ_CHUNK);
};

// The child's standard input: `input`, then the end of the file.
class InputWriter {
 public:
  InputWriter(ParentPipe& pipe, const std::string& input) : _pipe(pipe), _input(input) {
    if (_input.empty()) _pipe.close();
  }

  void start() {
    while (_pipe.open() && !_pipe.pending) {
      ::ResetEvent(_pipe.event.h);
      const DWORD size =
          static_cast<DWORD>(std::min<std::size_t>(_input.size() - _written, WRITE_CHUNK));
      DWORD n = 0;
      if (::WriteFile(_pipe.handle.h, _input.data() + _written, size, nullptr, &_pipe.ov) &&
          ::GetOverlappedResult(_pipe.handle.h, &_pipe.ov, &n, FALSE)) {
        advance(n);
      } else if (::GetLastError() == ERROR_IO_PENDING) {
        _pipe.pending = true;
      } else {
        _pipe.close();  // the child stopped reading
      }
    }
  }
  void complete() {
    DWORD n = 0;
    if (!_pipe.pending) return;
    if (::GetOverlappedResult(_pipe.handle.h, &_pipe.ov, &n, FALSE)) {
      _pipe.pending = false;
      advance(n);
    } else if (::GetLastError() != ERROR_IO_INCOMPLETE) {
      _pipe.pending = false;
      _pipe.close();
    }
  }

 private:
  void advance(DWORD n) {
    _written += n;
    if (_written == _input.size()) _pipe.close();  // all written: the child reads the end
  }

  ParentPipe& _pipe;
  const std::string& _input;
  std::size_t _written = 0;
};

// A job that ends every process in it when its handle closes: the child and whatever it starts.
Handle make_kill_on_close_job() {
  Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) fail("CreateJobObject");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    fail("SetInformationJobObject");
  }
  return job;
}

struct Child {
  Handle process;
  Handle job;  // empty for a detached child
};

Child start(const std::vector<std::string>& args, const std::wstring& program, bool detached,
            HANDLE in, HANDLE out, HANDLE err) {
  // Only these three handles reach the child, not every inheritable one of the process.
  std::vector<HANDLE> inherited{in, out, err};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size))
    fail("InitializeProcThreadAttributeList");
  struct Cleanup {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~Cleanup() { ::DeleteProcThreadAttributeList(list); }
  } cleanup{attributes};
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                   nullptr)) {
    fail("UpdateProcThreadAttribute");
  }

  STARTUPINFOEXW info{};
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdInput = in;
  info.StartupInfo.hStdOutput = out;
  info.StartupInfo.hStdError = err;
  info.lpAttributeList = attributes;

  Child child;
  DWORD flags = EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT;
  if (detached) {
    flags |= DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
  } else {
    child.job = make_kill_on_close_job();
    flags |= CREATE_SUSPENDED;  // in the job before it can start anything
  }
  std::wstring command_line = command_line_of(args);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &info.StartupInfo, &started)) {
    const DWORD error = ::GetLastError();
    throw ProcessStartError("[WinError " + std::to_string(error) + "] " + win::error_text(error) +
                            ": '" + args[0] + "'");
  }
  child.process = Handle(started.hProcess);
  Handle thread(started.hThread);
  if (child.job && !::AssignProcessToJobObject(child.job.h, child.process.h)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(child.process.h, 1);
    fail("AssignProcessToJobObject", error);
  }
  if (!detached) ::ResumeThread(thread.h);
  return child;
}

}  // namespace

bool program_exists(const std::string& program) {
  return find_program(program).has_value();
}

ProcessResult run_process(const std::vector<std::string>& args, const ProcessOptions& options) {
  if (args.empty()) throw ProcessStartError("empty command");
  const auto program = find_program(args[0]);
  if (!program) throw ProcessStartError("[Errno 2] No such file or directory: '" + args[0] + "'");

  ProcessResult result;
  const std::string input = options.input.value_or("");
  ParentPipe in_pipe, out_pipe;
  Handle child_in = options.input ? make_pipe(in_pipe, false) : open_nul();
  Handle child_out = options.capture_output ? make_pipe(out_pipe, true) : open_nul();
  Handle child_err = options.detached ? open_nul() : inheritable_stderr();
  Child child = start(args, *program, options.detached, child_in.h, child_out.h, child_err.h);
  child_in.reset();  // the child holds its ends; ours would keep the pipes from ending
  child_out.reset();
  child_err.reset();

  OutputReader reader(out_pipe, result.output);
  InputWriter writer(in_pipe, input);

  using clock = std::chrono::steady_clock;
  const bool has_deadline = options.timeout_seconds > 0;
  const auto deadline =
      clock::now() + std::chrono::duration_cast<clock::duration>(
                         std::chrono::duration<double>(has_deadline ? options.timeout_seconds : 0));
  for (;;) {
    reader.start();
    writer.start();
    std::vector<HANDLE> waits{child.process.h};
    if (out_pipe.pending) waits.push_back(out_pipe.event.h);
    if (in_pipe.pending) waits.push_back(in_pipe.event.h);
    DWORD wait_ms = INFINITE;
    if (has_deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
      if (left.count() <= 0) {
        // The whole tree: the child and everything it started.
        if (child.job) {
          ::TerminateJobObject(child.job.h, 1);
        } else {
          ::TerminateProcess(child.process.h, 1);
        }
        ::WaitForSingleObject(child.process.h, 5000);
        throw ProcessTimeout(process_text::timed_out(args, options.timeout_seconds));
      }
      wait_ms = static_cast<DWORD>(std::min<long long>(left.count() + 1, 1 << 30));
    }
    const DWORD woken =
        ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, wait_ms);
    if (woken == WAIT_FAILED) fail("WaitForMultipleObjects");
    if (woken == WAIT_OBJECT_0) break;  // the child ended
    reader.complete();
    writer.complete();
  }
  reader.drain();
  in_pipe.close();

  DWORD code = 0;
  if (!::GetExitCodeProcess(child.process.h, &code)) fail("GetExitCodeProcess");
  result.exit_code = static_cast<int>(code);
  if (options.check && result.exit_code != 0) {
    ProcessExitError error(process_text::exit_status(args, result.exit_code));
    error.exit_code = result.exit_code;
    throw error;
  }
  return result;
}

}  // namespace orvane::host
