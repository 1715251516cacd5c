#include <windows.h>

#include <string>
#include <vector>

#include "command_line.hpp"

namespace {

std::string utf8_of(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

// The arguments arrive as UTF-16 (a narrow main would get them in the ANSI code page, losing
// what it cannot show); everything inside is UTF-8, and so is what the console is given.
int wmain(int argc, wchar_t** wargv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(utf8_of(wargv[i]));
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return orvane::app::run_command_line(argc, argv.data());
}
