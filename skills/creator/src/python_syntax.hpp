#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace orvane::skills {

// Why no Python runtime can be had in this process (what was looked for), or nullopt when one
// is there. Looks once; the answer holds for the life of the process.
std::optional<std::string> python_missing();

// Compiles UTF-8 `code` as a Python module ("exec" mode) under the file name `filename`, running
// nothing. Returns str() of the SyntaxError (indentation and tab errors included), or nullopt
// when the code compiles. Code that is not UTF-8 is a syntax error too, as the compiler reports a
// source file that it cannot decode. Any other failure of the compiler (a NUL, memory), and a
// missing runtime, is raised as CompileError. Starts an isolated interpreter on first use unless
// the process already runs one; the GIL is held only during the compile.
std::optional<std::string> python_syntax_error(std::string_view code, std::string_view filename);

}  // namespace orvane::skills
