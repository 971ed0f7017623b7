// PNG pictures read with libpng, for checking what the program drew.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace velmora::testing {

struct Pixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
  bool ok() const { return width > 0 && height > 0; }
  const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  // 0..765, brighter is larger.
  int Brightness(int x, int y) const { return at(x, y)[0] + at(x, y)[1] + at(x, y)[2]; }
  // How many different colours the picture holds.
  size_t Colours() const {
    std::vector<bool> seen(1 << 24);
    size_t n = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      const uint32_t c = (rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2];
      if (!seen[c]) {
        seen[c] = true;
        ++n;
      }
    }
    return n;
  }
};

// Decodes a PNG file's bytes; an empty result when libpng refuses them.
inline Pixels DecodePng(const std::string& bytes) {
  Pixels p;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return p;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return p;
  }
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.rgb = std::move(rgb);
  return p;
}

}  // namespace velmora::testing
