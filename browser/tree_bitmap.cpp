// telmar-tree-bitmap <file.bmp>: writes the tree's image strip (bitmap 132, tree_images.cpp) as
// a 16-colour Windows bitmap, the form in which the resource script embeds it.
// telmar-tree-bitmap --check <file.bmp>: exits 1 when the file differs from what it would write,
// so that the checked-in bitmap cannot drift from the strip.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "browser/browser_resources.h"

namespace {

// The 16 colours of the system palette, in its order; the strip uses no others.
const uint32_t kSystemColours[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                     0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                     0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The bitmap file's bytes, or the empty text when the strip holds a colour outside the palette.
std::string StripBitmap() {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  if (!LoadBitmapResource(IDB_TREE_IMAGES, &width, &height, &rgb)) return "";
  const uint32_t rowBytes = ((static_cast<uint32_t>(width) * 4 + 31) / 32) * 4;
  const uint32_t pixelOffset = 14 + 40 + 16 * 4;
  const uint32_t imageSize = rowBytes * static_cast<uint32_t>(height);
  std::string out;
  out += "BM";  // file header
  Put32(out, pixelOffset + imageSize);
  Put32(out, 0);
  Put32(out, pixelOffset);
  Put32(out, 40);  // BITMAPINFOHEADER
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));  // positive: rows bottom-up
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // BI_RGB
  Put32(out, imageSize);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 16);
  Put32(out, 0);
  for (uint32_t c : kSystemColours) Put32(out, c);  // blue, green, red, 0 in memory order
  for (int y = height - 1; y >= 0; --y) {
    std::string row(rowBytes, '\0');
    for (int x = 0; x < width; ++x) {
      uint32_t pixel = rgb[static_cast<size_t>(y) * width + x];
      const uint32_t* at = std::find(std::begin(kSystemColours), std::end(kSystemColours), pixel);
      if (at == std::end(kSystemColours)) return "";
      auto index = static_cast<unsigned char>(at - kSystemColours);
      row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 ? index : index << 4));
    }
    out += row;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: %s [--check] <file.bmp>\n", argv[0]);
    return 2;
  }
  const char* path = argv[argc - 1];
  std::string bitmap = StripBitmap();
  if (bitmap.empty()) {
    std::fprintf(stderr, "telmar-tree-bitmap: the strip has a colour outside the 16 colours\n");
    return 1;
  }
  if (check) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream held;
    held << in.rdbuf();
    if (!in || held.str() != bitmap) {
      std::fprintf(stderr,
                   "telmar-tree-bitmap: '%s' is not the tree's image strip; regenerate it\n", path);
      return 1;
    }
    return 0;
  }
  std::ofstream out(path, std::ios::binary);
  out << bitmap;
  return out.good() ? 0 : 1;
}
