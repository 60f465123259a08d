// Bitmap 132, the tree's image strip: 14 images of 16 x 13 pixels side by side, in the 16 colours
// below; magenta is the mask colour that the image list makes transparent. One character per
// pixel; the images are kept one below the other here so that each can be read and redrawn.
#include <cstring>

#include "browser/browser_resources.h"

namespace {

struct PaletteEntry {
  char key;
  uint32_t rgb;
};

const PaletteEntry kPalette[16] = {
    {'.', 0xFF00FF},  // magenta: transparent
    {'k', 0x000000}, {'r', 0x800000}, {'g', 0x008000}, {'o', 0x808000}, {'n', 0x000080},
    {'p', 0x800080}, {'t', 0x008080}, {'s', 0xC0C0C0}, {'d', 0x808080}, {'R', 0xFF0000},
    {'G', 0x00FF00}, {'Y', 0xFFFF00}, {'B', 0x0000FF}, {'C', 0x00FFFF}, {'w', 0xFFFFFF},
};

// kTreeImageCount blocks of kTreeImageHeight rows of kTreeImageWidth pixels. Images 3, 5, 7, 9
// and 11 are 2, 4, 6, 8 and 10 with image 12's yellow plus sign laid over them.
const char* const kRows[kTreeImageCount * kTreeImageHeight] = {
    // 0: faded grey cross over a dotted chevron
    "................",
    "..s.............",
    "....s...........",
    "....d.s...d.....",
    ".....d..sd......",
    "......d.d.s.....",
    ".......d....s...",
    "......d.d.s.....",
    ".....d..sd......",
    "....d.s...d.....",
    "....s...........",
    "..s.............",
    "................",
    // 1: green cylinder, yellow plus
    "............oYo.",
    "...kkkkkkk.ooYoo",
    "..kGGGGGGGoYYYYY",
    ".kGGGGGGGGGooYoo",
    ".kkGGGGGGGkkoYo.",
    ".kgkkkkkkkgk.o..",
    ".kgGGgggggtk....",
    ".kgGGgggggtk....",
    ".kgGGgggggtk....",
    ".kgGGgggggtk....",
    ".kgGGgggggtk....",
    "..kgGGgggtk.....",
    "...kkkkkkk......",
    // 2: window with a grid
    "................",
    ".kkkkkkkkkkkkkk.",
    ".knnnnnnnnnnnnk.",
    ".knnnnnnnnnnnnk.",
    ".kwwswwswwswwsk.",
    ".kwwswwswwswwsk.",
    ".kssssssssssssk.",
    ".kwwswwswwswwsk.",
    ".kwwswwswwswwsk.",
    ".kssssssssssssk.",
    ".kwwswwswwswwsk.",
    ".kkkkkkkkkkkkkk.",
    "................",
    // 3: window with a grid, yellow plus
    "............oYo.",
    ".kkkkkkkkkkooYoo",
    ".knnnnnnnnoYYYYY",
    ".knnnnnnnnnooYoo",
    ".kwwswwswwswoYo.",
    ".kwwswwswwswwok.",
    ".kssssssssssssk.",
    ".kwwswwswwswwsk.",
    ".kwwswwswwswwsk.",
    ".kssssssssssssk.",
    ".kwwswwswwswwsk.",
    ".kkkkkkkkkkkkkk.",
    "................",
    // 4: grey tile with the letter F
    "................",
    "..wwwwwwwwwwww..",
    "..wssssssssssd..",
    "..wsskkkkkkssd..",
    "..wsskkkkkkssd..",
    "..wsskkssssssd..",
    "..wsskkkkksssd..",
    "..wsskkkkksssd..",
    "..wsskkssssssd..",
    "..wsskkssssssd..",
    "..wsskkssssssd..",
    "..wssssssssssd..",
    "..wddddddddddd..",
    // 5: tile F, yellow plus
    "............oYo.",
    "..wwwwwwwwwooYoo",
    "..wsssssssoYYYYY",
    "..wsskkkkkkooYoo",
    "..wsskkkkkksoYo.",
    "..wsskksssssso..",
    "..wsskkkkksssd..",
    "..wsskkkkksssd..",
    "..wsskkssssssd..",
    "..wsskkssssssd..",
    "..wsskkssssssd..",
    "..wssssssssssd..",
    "..wddddddddddd..",
    // 6: window with a grid and a green arrow on its left
    "................",
    ".....kkkkkkkkkkk",
    ".....knnnnnnnnnk",
    ".....knnnnnnnnnk",
    "..g..kwwswwswwsk",
    "GGGg.kwwswwswwsk",
    "gggggksssssssssk",
    "...g.kwwswwswwsk",
    "..g..kwwswwswwsk",
    ".....ksssssssssk",
    ".....kwwswwswwsk",
    ".....kkkkkkkkkkk",
    "................",
    // 7: window and arrow, yellow plus
    "............oYo.",
    ".....kkkkkkooYoo",
    ".....knnnnoYYYYY",
    ".....knnnnnooYoo",
    "..g..kwwswwsoYok",
    "GGGg.kwwswwswosk",
    "gggggksssssssssk",
    "...g.kwwswwswwsk",
    "..g..kwwswwswwsk",
    ".....ksssssssssk",
    ".....kwwswwswwsk",
    ".....kkkkkkkkkkk",
    "................",
    // 8: red arc joining two small windows: a network variable
    "................",
    ".......RR.......",
    ".....RR..RR.....",
    "....R......R....",
    "....R......R....",
    "...R........R...",
    "...R........R...",
    "kkkkkk....kkkkkk",
    "knnnnk....knnnnk",
    "kwwwwk....kwwwwk",
    "kwwwwk....kwwwwk",
    "kwwwwk....kwwwwk",
    "kkkkkk....kkkkkk",
    // 9: arc and windows, yellow plus
    "............oYo.",
    ".......RR..ooYoo",
    ".....RR..RoYYYYY",
    "....R......ooYoo",
    "....R......RoYo.",
    "...R........Ro..",
    "...R........R...",
    "kkkkkk....kkkkkk",
    "knnnnk....knnnnk",
    "kwwwwk....kwwwwk",
    "kwwwwk....kwwwwk",
    "kwwwwk....kwwwwk",
    "kkkkkk....kkkkkk",
    // 10: page with a checkered cyan fill and lines: a network-variable field
    "..kkkkkkkkk.....",
    "..kCwCwCwCdk....",
    "..kwCwCwCwddk...",
    "..kCnnnnnnnCk...",
    "..kwCwCwCwCwk...",
    "..kCwCwCwCwCk...",
    "..kwnnnnnnnwk...",
    "..kCwCwCwCwCk...",
    "..kwCwCwCwCwk...",
    "..kCnnnnnnnCk...",
    "..kwCwCwCwCwk...",
    "..kCwCwCwCwCk...",
    "..kkkkkkkkkkk...",
    // 11: page, yellow plus
    "..kkkkkkkkk.oYo.",
    "..kCwCwCwCdooYoo",
    "..kwCwCwCwoYYYYY",
    "..kCnnnnnnnooYoo",
    "..kwCwCwCwCwoYo.",
    "..kCwCwCwCwCko..",
    "..kwnnnnnnnwk...",
    "..kCwCwCwCwCk...",
    "..kwCwCwCwCwk...",
    "..kCnnnnnnnCk...",
    "..kwCwCwCwCwk...",
    "..kCwCwCwCwCk...",
    "..kkkkkkkkkkk...",
    // 12: yellow plus sign alone
    "............oYo.",
    "...........ooYoo",
    "..........oYYYYY",
    "...........ooYoo",
    "............oYo.",
    ".............o..",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    // 13: open yellow folder
    "................",
    "................",
    ".kkkk...........",
    "kYwYwk..........",
    "kwYYYYkkkkkk....",
    "kYYYYYYYYYYk....",
    "kYYYkkkkkkkkkkk.",
    "kYYkYYYYYYYYYk..",
    "kYkYYYYYYYYYk...",
    "kYkYYYYYYYYYk...",
    "kkYYYYYYYYYk....",
    "kkkkkkkkkkk.....",
    "................",
};

bool Colour(char key, uint32_t* rgb) {
  for (const PaletteEntry& e : kPalette) {
    if (e.key == key) {
      *rgb = e.rgb;
      return true;
    }
  }
  return false;
}

}  // namespace

bool LoadBitmapResource(int id, int* width, int* height, std::vector<uint32_t>* rgb) {
  if (id != IDB_TREE_IMAGES) return false;
  *width = kTreeImageWidth * kTreeImageCount;
  *height = kTreeImageHeight;
  rgb->assign(static_cast<size_t>(*width) * *height, kTreeImageMask);
  for (int image = 0; image < kTreeImageCount; ++image) {
    for (int y = 0; y < kTreeImageHeight; ++y) {
      const char* row = kRows[image * kTreeImageHeight + y];
      // A row of another length or with a colour outside the palette is a damaged resource.
      if (std::strlen(row) != kTreeImageWidth) return false;
      for (int x = 0; x < kTreeImageWidth; ++x) {
        if (!Colour(row[x],
                    &(*rgb)[static_cast<size_t>(y) * *width + image * kTreeImageWidth + x])) {
          return false;
        }
      }
    }
  }
  return true;
}
