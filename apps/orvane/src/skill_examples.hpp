#pragma once
// Complete skills to start from: what `skill example` prints, each accepted by `skill create`.
#include <string_view>

namespace orvane::app {

// A simple skill: steps of the desktop tool's operations, with parameters.
extern const std::string_view SIMPLE_SKILL_EXAMPLE;
// A script skill: Python code with an `async def run(ctx, params)`.
extern const std::string_view SCRIPT_SKILL_EXAMPLE;

}  // namespace orvane::app
