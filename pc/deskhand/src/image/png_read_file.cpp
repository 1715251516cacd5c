#include <string>
#include <system_error>

#include "image/image.hpp"
#include "orvane/common/file_io.hpp"

namespace orvane::pc::image {
namespace {

// UTF-8 on every system (string() is the ANSI code page on Windows).
std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

RgbImage read_png_file(const std::filesystem::path& path) {
  std::string bytes;
  try {
    bytes = common::read_file(path);
  } catch (const std::system_error& e) {
    // Worded like the OS error a file-opening library reports, e.g. for a capture that wrote
    // nothing: "[Errno 2] No such file or directory: '/tmp/x.png'".
    throw ImageError("[Errno " + std::to_string(e.code().value()) + "] " + e.code().message() +
                     ": '" + utf8(path) + "'");
  }
  try {
    return decode_png(bytes);
  } catch (const ImageError& e) {
    throw ImageError("cannot identify image file '" + utf8(path) + "': " + e.what());
  }
}

}  // namespace orvane::pc::image
