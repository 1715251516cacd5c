#include <spng.h>

#include <memory>
#include <string>

#include "image/image.hpp"

namespace orvane::pc::image {
namespace {

// A screen of 16384 x 8192 is far beyond any display; a header that claims more is refused
// before its pixels are allocated.
constexpr std::size_t MAX_PIXELS = std::size_t{1} << 27;

struct ContextDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

[[noreturn]] void fail(const char* step, int code) {
  throw ImageError(std::string("invalid PNG data (") + step + "): " + spng_strerror(code));
}

}  // namespace

RgbImage decode_png(std::string_view bytes) {
  std::unique_ptr<spng_ctx, ContextDeleter> ctx(spng_ctx_new(0));
  if (!ctx) throw ImageError("cannot start the PNG decoder");
  if (int rc = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size())) fail("buffer", rc);

  spng_ihdr ihdr{};
  if (int rc = spng_get_ihdr(ctx.get(), &ihdr)) fail("header", rc);
  if (static_cast<std::size_t>(ihdr.width) * ihdr.height > MAX_PIXELS) {
    throw ImageError("PNG image of " + std::to_string(ihdr.width) + "x" +
                     std::to_string(ihdr.height) + " pixels is too large");
  }

  std::size_t size = 0;
  if (int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &size)) fail("format", rc);
  RgbImage image;
  image.width = static_cast<int>(ihdr.width);
  image.height = static_cast<int>(ihdr.height);
  image.pixels.resize(size);
  if (int rc = spng_decode_image(ctx.get(), image.pixels.data(), size, SPNG_FMT_RGB8, 0)) {
    fail("image", rc);
  }
  if (image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    throw ImageError("PNG decoder returned " + std::to_string(image.pixels.size()) + " bytes for " +
                     std::to_string(image.width) + "x" + std::to_string(image.height) + " pixels");
  }
  return image;
}

}  // namespace orvane::pc::image
