// Re-encodes a PNG figure at an ISA-L deflate level with the program's own
// encoder, for bench/png_repeat.sh. That script runs it in many processes and
// counts the different files one figure gives: a level is fit for the figures
// only when every process writes the same bytes, wherever the encoder's state
// happens to lie in memory (levels 1 and 2 of ISA-L 2.30 do not).
//
//   png_repeat LEVEL IN.png OUT.png
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/Png.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: png_repeat LEVEL IN.png OUT.png\n");
    return 2;
  }
  png_image in;
  std::memset(&in, 0, sizeof in);
  in.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&in, argv[2]) == 0) {
    std::fprintf(stderr, "png_repeat: %s: %s\n", argv[2], in.message);
    return 1;
  }
  // One native word a pixel, as the painter leaves them: B, G, R, A in memory.
  in.format = PNG_FORMAT_BGRA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(in));
  if (png_image_finish_read(&in, nullptr, pixels.data(), 0, nullptr) == 0) {
    std::fprintf(stderr, "png_repeat: %s: %s\n", argv[2], in.message);
    return 1;
  }
  tk::Image image(static_cast<int>(in.width), static_cast<int>(in.height));
  if (image.data() == nullptr) {
    std::fprintf(stderr, "png_repeat: no memory for the image\n");
    return 1;
  }
  std::memcpy(image.data(), pixels.data(), pixels.size());
  std::string error;
  if (!tk::writePng(argv[3], image, std::atoi(argv[1]), error)) {
    std::fprintf(stderr, "png_repeat: %s: %s\n", argv[3], error.c_str());
    return 1;
  }
  return 0;
}
