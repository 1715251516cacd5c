// Windows has no libspng here: the deskhand image library's decoder (the Windows Imaging
// Component) reads the PNG.
#include "image/image.hpp"
#include "tour/png_pixels.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {

RgbPixels decode_png(const std::string& png) {
  try {
    pc::image::RgbImage image = pc::image::decode_png(png);
    return {image.width, image.height, std::move(image.pixels)};
  } catch (const std::exception& error) {
    throw CheckFailed(std::string("the PNG does not decode: ") + error.what());
  }
}

}  // namespace orvane::app::tour
