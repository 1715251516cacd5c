// The child the process runner's tests start: test_child <mode> [arguments...]
//   args              prints its arguments (as CommandLineToArgvW reads them) as a JSON array
//   cat               copies standard input to standard output
//   exit <n>          exits with status n
//   tree <dir>        starts `late <dir>` and waits; that grandchild marks <dir>\started at once
//   late <dir>        and <dir>\late after 3 s
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

int wmain() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  auto utf8 = [](const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n - 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
  };
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"args") {
    auto args = nlohmann::json::array();
    for (int i = 2; i < argc; ++i) args.push_back(utf8(argv[i]));
    std::cout << args.dump();
  } else if (mode == L"cat") {
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    std::cout << std::cin.rdbuf();
  } else if (mode == L"exit") {
    return std::stoi(argv[2]);
  } else if (mode == L"tree") {
    std::wstring line = L"\"" + std::wstring(argv[0]) + L"\" late \"" + argv[2] + L"\"";
    STARTUPINFOW info{sizeof info};
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &info,
                          &started)) {
      return 2;
    }
    ::Sleep(30000);
  } else if (mode == L"late") {
    const std::filesystem::path dir(argv[2]);
    std::ofstream(dir / "started") << "x";
    ::Sleep(3000);
    std::ofstream(dir / "late") << "x";
  }
  return 0;
}
