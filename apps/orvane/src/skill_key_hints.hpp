#pragma once
// The creator's messages say what is wrong in the words of a form ("App name is required"); a user
// writing the JSON by hand also needs the key to write.
#include <string>

namespace orvane::app {

// `message` with each line that the creator words without its key followed by (key "...").
std::string with_key_hints(const std::string& message);

}  // namespace orvane::app
