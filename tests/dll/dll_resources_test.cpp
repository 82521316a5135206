// The resources that the built zephlardll.dll carries, read from the DLL
// itself, mapped as a data file: every id under US English, the bitmaps'
// formats and the parts of their artwork that the painting code relies on,
// and the icon. The dialog templates and the manifest have a file of their
// own.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/dll/DllResource.h"

namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb& o) const { return !(*this == o); }
  int Luma() const { return (r * 3 + g * 6 + b) / 10; }
  bool IsGrey() const { return std::max({r, g, b}) - std::min({r, g, b}) <= 12; }
};

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

const Rgb kWhite{255, 255, 255};
const Rgb kButtonGround{252, 252, 252};

// A packed 8-bit bottom-up DIB as stored in a bitmap resource; pixels are
// addressed from the top, as they are drawn.
struct Dib {
  bool valid = false;
  uint32_t headerSize = 0, compression = 0, colorsUsed = 0;
  int width = 0, height = 0, planes = 0, bitCount = 0;
  const unsigned char* palette = nullptr;
  const unsigned char* bits = nullptr;
  size_t stride = 0;

  Rgb At(int x, int y) const {
    const unsigned char* entry = palette + 4 * bits[(height - 1 - y) * stride + x];
    return {entry[2], entry[1], entry[0]};
  }
};

Dib ReadBitmap(int id) {
  const Blob blob = Resource(kBitmap, id);
  Dib dib;
  if (blob.data == nullptr || blob.size < 40) return dib;
  const unsigned char* p = blob.data;
  dib.headerSize = U32(p);
  dib.width = static_cast<int32_t>(U32(p + 4));
  dib.height = static_cast<int32_t>(U32(p + 8));
  dib.planes = U16(p + 12);
  dib.bitCount = U16(p + 14);
  dib.compression = U32(p + 16);
  dib.colorsUsed = U32(p + 32);
  dib.stride = (static_cast<size_t>(dib.width) + 3) & ~size_t{3};
  dib.palette = p + dib.headerSize;
  dib.bits = dib.palette + 4 * 256;
  dib.valid = dib.headerSize == 40 && dib.bitCount == 8 && dib.width > 0 && dib.height > 0 &&
              blob.size >= 40 + 4 * 256 + dib.stride * static_cast<size_t>(dib.height);
  return dib;
}

struct BitmapSize {
  int id, width, height;
};
const BitmapSize kBitmaps[] = {{IDB_BACKGROUND, 600, 440}, {IDB_BTN_BACK, 320, 25},
                               {IDB_BTN_CANCEL, 320, 25},  {IDB_BTN_NEXT, 320, 25},
                               {IDB_BTN_OK, 320, 25},      {IDB_PANEL, 350, 90}};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

TEST(DllResources, EveryResourceIsStoredOnceUnderUsEnglish) {
  ASSERT_NE(Dll(), nullptr) << ZEPHLAR_DLL_PATH;
  const std::pair<int, int> resources[] = {{kBitmap, IDB_BACKGROUND},
                                           {kBitmap, IDB_BTN_BACK},
                                           {kBitmap, IDB_BTN_CANCEL},
                                           {kBitmap, IDB_BTN_NEXT},
                                           {kBitmap, IDB_BTN_OK},
                                           {kBitmap, IDB_PANEL},
                                           {kGroupIcon, IDI_APP},
                                           {kIcon, 1},
                                           {kDialog, IDD_WIZARD},
                                           {kDialog, IDD_PANEL},
                                           {kManifest, 1}};
  for (const auto& [type, id] : resources) {
    SCOPED_TRACE("type " + std::to_string(type) + " id " + std::to_string(id));
    EXPECT_NE(Resource(type, id).data, nullptr);
    std::vector<WORD> languages;
    EnumResourceLanguagesA(Dll(), MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kUsEnglish});
  }
}

// ---------------------------------------------------------------- bitmaps

TEST(DllResourcesBitmaps, AreBottomUp8BitUncompressedWith256Colours) {
  for (const BitmapSize& expected : kBitmaps) {
    SCOPED_TRACE("bitmap " + std::to_string(expected.id));
    const Dib dib = ReadBitmap(expected.id);
    EXPECT_TRUE(dib.valid);
    EXPECT_EQ(dib.headerSize, 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(dib.width, expected.width);
    EXPECT_EQ(dib.height, expected.height);  // positive: bottom-up
    EXPECT_EQ(dib.planes, 1);
    EXPECT_EQ(dib.bitCount, 8);
    EXPECT_EQ(dib.compression, 0u);  // BI_RGB
    EXPECT_TRUE(dib.colorsUsed == 256 || dib.colorsUsed == 0) << dib.colorsUsed;
  }
}

TEST(DllResourcesBitmaps, LoadAtTheirStoredSize) {
  for (const BitmapSize& expected : kBitmaps) {
    SCOPED_TRACE("bitmap " + std::to_string(expected.id));
    HANDLE image =
        LoadImageA(Dll(), MAKEINTRESOURCEA(expected.id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
    ASSERT_NE(image, nullptr);
    BITMAP header{};
    EXPECT_EQ(GetObjectA(image, sizeof header, &header), static_cast<int>(sizeof header));
    EXPECT_EQ(header.bmWidth, expected.width);
    EXPECT_EQ(header.bmHeight, expected.height);
    DeleteObject(image);
  }
}

// One edge of a window bitmap from the outside in: the two border pixels,
// then the face.
void CheckEdge(Rgb outer, Rgb inner, Rgb face, const std::string& where) {
  EXPECT_TRUE(outer.IsGrey() && inner.IsGrey()) << where;
  EXPECT_GE(face.r, 200) << where;
  EXPECT_TRUE(face.IsGrey()) << where;
  EXPECT_LE(outer.Luma(), face.Luma() - 30) << where;
  EXPECT_LE(inner.Luma(), face.Luma() - 20) << where;
}

// Both window bitmaps: a margin of 5 px left and top and 4 px right and
// bottom, which the window regions cut off, then a 2-px grey border, then
// the light face. Away from the corners, where the border follows the
// rounding of the regions.
TEST(DllResourcesBitmaps, WindowBitmapsHaveTheirMarginThenAGreyBorder) {
  const std::pair<int, Rgb> windows[] = {{IDB_BACKGROUND, {225, 1, 87}}, {IDB_PANEL, {225, 0, 87}}};
  for (const auto& [id, margin] : windows) {
    SCOPED_TRACE("bitmap " + std::to_string(id));
    const Dib dib = ReadBitmap(id);
    ASSERT_TRUE(dib.valid);
    const int w = dib.width, h = dib.height;
    int wrongMargin = 0, marginInside = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const bool inMargin = x < 5 || y < 5 || x >= w - 4 || y >= h - 4;
        if (inMargin && dib.At(x, y) != margin) ++wrongMargin;
        if (!inMargin && dib.At(x, y) == margin) ++marginInside;
      }
    }
    EXPECT_EQ(wrongMargin, 0) << "pixels of the margin in another colour";
    EXPECT_EQ(marginInside, 0) << "pixels inside the margin in the margin colour";

    for (int x = 16; x < w - 16; x += 7) {
      CheckEdge(dib.At(x, 5), dib.At(x, 6), dib.At(x, 7), "top, x " + std::to_string(x));
      CheckEdge(dib.At(x, h - 5), dib.At(x, h - 6), dib.At(x, h - 7),
                "bottom, x " + std::to_string(x));
    }
    for (int y = 16; y < h - 16; y += 7) {
      CheckEdge(dib.At(5, y), dib.At(6, y), dib.At(7, y), "left, y " + std::to_string(y));
      CheckEdge(dib.At(w - 5, y), dib.At(w - 6, y), dib.At(w - 7, y),
                "right, y " + std::to_string(y));
    }
  }
}

// The wizard writes the step's title and text and places its controls on
// the content panel: its white face is the rectangle x 206..571, y 32..311,
// framed by pixels that are not white.
TEST(DllResourcesBitmaps, BackgroundContentPanelIsWhiteExactlyOverItsFace) {
  const Dib dib = ReadBitmap(IDB_BACKGROUND);
  ASSERT_TRUE(dib.valid);
  EXPECT_EQ(dib.At(206, 32), kWhite);
  EXPECT_EQ(dib.At(571, 32), kWhite);
  EXPECT_EQ(dib.At(206, 311), kWhite);
  EXPECT_EQ(dib.At(571, 311), kWhite);
  int notWhite = 0;
  for (int y = 32; y <= 311; ++y) {
    for (int x = 206; x <= 571; ++x) notWhite += dib.At(x, y) != kWhite;
  }
  EXPECT_EQ(notWhite, 0);
  for (int x = 205; x <= 572; ++x) {
    EXPECT_NE(dib.At(x, 31), kWhite) << "x " << x;
    EXPECT_NE(dib.At(x, 312), kWhite) << "x " << x;
  }
  for (int y = 31; y <= 312; ++y) {
    EXPECT_NE(dib.At(205, y), kWhite) << "y " << y;
    EXPECT_NE(dib.At(572, y), kWhite) << "y " << y;
  }
}

// Around each clipped pill the background shows through, and the Cancel
// button moves with the client width: the row behind the buttons is plain.
TEST(DllResourcesBitmaps, BackgroundIsPlainBehindTheButtonRow) {
  const Dib dib = ReadBitmap(IDB_BACKGROUND);
  ASSERT_TRUE(dib.valid);
  int darkest = 255, lightest = 0;
  for (int y = 404; y <= 429; ++y) {
    for (int x = 190; x <= 590; ++x) {
      darkest = std::min(darkest, dib.At(x, y).Luma());
      lightest = std::max(lightest, dib.At(x, y).Luma());
    }
  }
  EXPECT_LE(lightest - darkest, 12);
  EXPECT_GE(darkest, 180);
}

// ---------------------------------------------------------- button strips

// A cell of a strip, x 80 * cell to 80 * cell + 79.
struct Cell {
  const Dib& dib;
  int cell;
  Rgb At(int x, int y) const { return dib.At(80 * cell + x, y); }
  // The darkest pixel well inside the pill: the label's ink.
  int LabelLuma() const {
    int darkest = 255;
    for (int y = 6; y <= 18; ++y) {
      for (int x = 12; x <= 67; ++x) darkest = std::min(darkest, At(x, y).Luma());
    }
    return darkest;
  }
  bool operator==(const Cell& o) const {
    for (int y = 0; y < 25; ++y) {
      for (int x = 0; x < 80; ++x) {
        if (At(x, y) != o.At(x, y)) return false;
      }
    }
    return true;
  }
};

const int kStrips[] = {IDB_BTN_BACK, IDB_BTN_CANCEL, IDB_BTN_NEXT, IDB_BTN_OK};

// The painter clips each cell to a pill from (2, 2) to (78, 22); the ground
// outside the outline must be the near-white ground in every cell.
TEST(DllResourcesButtonStrips, PillOutlineSitsOnTheGroundInEveryCell) {
  for (int id : kStrips) {
    const Dib dib = ReadBitmap(id);
    ASSERT_TRUE(dib.valid) << id;
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE("strip " + std::to_string(id) + " cell " + std::to_string(i));
      const Cell cell{dib, i};
      for (int x = 0; x < 80; ++x) {
        for (int y : {0, 1, 2, 22, 23, 24})
          EXPECT_EQ(cell.At(x, y), kButtonGround) << x << "," << y;
      }
      for (int y = 0; y < 25; ++y) {
        for (int x : {0, 1, 78, 79}) EXPECT_EQ(cell.At(x, y), kButtonGround) << x << "," << y;
      }
      // The outline's extremes: x 2 and 77 halfway down, y 3 and 21 halfway across.
      const std::pair<int, int> extremes[] = {{2, 12}, {77, 12}, {40, 3}, {40, 21}};
      for (const auto& [x, y] : extremes) {
        EXPECT_LE(cell.At(x, y).Luma(), kButtonGround.Luma() - 30) << x << "," << y;
      }
    }
  }
}

TEST(DllResourcesButtonStrips, CellsShowNormalDisabledPressedAndDarkerLooks) {
  for (int id : kStrips) {
    SCOPED_TRACE("strip " + std::to_string(id));
    const Dib dib = ReadBitmap(id);
    ASSERT_TRUE(dib.valid);
    const Cell normal{dib, 0}, disabled{dib, 1}, pressed{dib, 2}, fourth{dib, 3};
    const Cell cells[] = {normal, disabled, pressed, fourth};
    for (int a = 0; a < 4; ++a) {
      for (int b = a + 1; b < 4; ++b) EXPECT_FALSE(cells[a] == cells[b]) << a << " and " << b;
    }
    EXPECT_LE(normal.LabelLuma(), 80) << "normal label is dark";
    EXPECT_GE(disabled.LabelLuma(), normal.LabelLuma() + 60) << "disabled label is faded";
    EXPECT_GT(disabled.At(40, 3).Luma(), normal.At(40, 3).Luma()) << "disabled outline is faded";
    EXPECT_LT(pressed.At(40, 3).Luma(), normal.At(40, 3).Luma()) << "pressed outline is darker";
    EXPECT_GT(pressed.LabelLuma(), normal.LabelLuma()) << "pressed label is grey";
    EXPECT_LT(fourth.LabelLuma(), normal.LabelLuma()) << "fourth label is darker";
  }
}

TEST(DllResourcesButtonStrips, EachStripCarriesItsOwnLabel) {
  const Dib back = ReadBitmap(IDB_BTN_BACK), cancel = ReadBitmap(IDB_BTN_CANCEL);
  const Dib next = ReadBitmap(IDB_BTN_NEXT), ok = ReadBitmap(IDB_BTN_OK);
  ASSERT_TRUE(back.valid && cancel.valid && next.valid && ok.valid);
  const Cell cells[] = {{back, 0}, {cancel, 0}, {next, 0}, {ok, 0}};
  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) EXPECT_FALSE(cells[a] == cells[b]) << kStrips[a] << kStrips[b];
  }
}

// ------------------------------------------------------------------- icon

TEST(DllResourcesIcon, GroupHoldsOne32x32FourBitImageWithAMask) {
  const Blob group = Resource(kGroupIcon, IDI_APP);
  ASSERT_GE(group.size, 6u + 14u);
  EXPECT_EQ(U16(group.data), 0);      // reserved
  EXPECT_EQ(U16(group.data + 2), 1);  // icons
  ASSERT_EQ(U16(group.data + 4), 1);
  const unsigned char* entry = group.data + 6;
  EXPECT_EQ(entry[0], 32);
  EXPECT_EQ(entry[1], 32);
  EXPECT_EQ(entry[2], 16);  // colours
  EXPECT_EQ(U16(entry + 4), 1);
  EXPECT_EQ(U16(entry + 6), 4);
  const uint32_t bytes = U32(entry + 8);
  const int iconId = U16(entry + 12);
  EXPECT_EQ(iconId, 1);

  const Blob image = Resource(kIcon, iconId);
  const uint32_t xorSize = 32 * 16, andSize = 32 * 4;
  ASSERT_EQ(image.size, 40 + 16 * 4 + xorSize + andSize);
  EXPECT_EQ(bytes, image.size);
  const unsigned char* p = image.data;
  EXPECT_EQ(U32(p), 40u);
  EXPECT_EQ(U32(p + 4), 32u);
  EXPECT_EQ(U32(p + 8), 64u);  // colour image and mask
  EXPECT_EQ(U16(p + 14), 4);
  EXPECT_EQ(U32(p + 16), 0u);
  const Rgb standard[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  const unsigned char* palette = p + 40;
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ((Rgb{palette[4 * i + 2], palette[4 * i + 1], palette[4 * i]}), standard[i]) << i;
  }

  // Opaque pixels are the black letters; transparent ones carry colour 0,
  // so that they leave the screen as it is rather than inverting it.
  const unsigned char* colours = palette + 16 * 4;
  const unsigned char* mask = colours + xorSize;
  int opaque = 0, notBlack = 0, transparentNotZero = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const int index = (colours[y * 16 + x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
      const bool transparent = (mask[y * 4 + x / 8] >> (7 - x % 8)) & 1;
      if (transparent) {
        transparentNotZero += index != 0;
      } else {
        ++opaque;
        notBlack += standard[index] != Rgb{0, 0, 0};
      }
    }
  }
  EXPECT_GT(opaque, 60);
  EXPECT_LT(opaque, 32 * 32 / 2);
  EXPECT_EQ(notBlack, 0);
  EXPECT_EQ(transparentNotZero, 0);
}

TEST(DllResourcesIcon, LoadsAsA32x32IconWithMask) {
  HANDLE icon = LoadImageA(Dll(), MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
  EXPECT_TRUE(info.fIcon);
  ASSERT_NE(info.hbmMask, nullptr);
  BITMAP mask{};
  GetObjectA(info.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, 32);
  if (info.hbmColor != nullptr) {
    BITMAP colour{};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    DeleteObject(info.hbmColor);
  }
  DeleteObject(info.hbmMask);
  DestroyIcon(static_cast<HICON>(icon));
}

}  // namespace
