#include "tour/png_pixels.hpp"

#include <spng.h>

#include <memory>

#include "tour/tour.hpp"

namespace orvane::app::tour {

RgbPixels decode_png(const std::string& png) {
  const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
  if (!ctx) throw CheckFailed("cannot start the PNG decoder");
  const auto failed = [](int code) {
    return CheckFailed(std::string("the PNG does not decode: ") + spng_strerror(code));
  };
  if (int rc = spng_set_png_buffer(ctx.get(), png.data(), png.size())) throw failed(rc);
  spng_ihdr ihdr{};
  if (int rc = spng_get_ihdr(ctx.get(), &ihdr)) throw failed(rc);
  std::size_t size = 0;
  if (int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGB8, &size)) throw failed(rc);
  RgbPixels pixels{static_cast<int>(ihdr.width), static_cast<int>(ihdr.height)};
  pixels.rgb.resize(size);
  if (int rc = spng_decode_image(ctx.get(), pixels.rgb.data(), size, SPNG_FMT_RGB8, 0)) {
    throw failed(rc);
  }
  return pixels;
}

}  // namespace orvane::app::tour
