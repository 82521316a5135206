#include "skin/PanelDialog.h"

#include <cstring>

#include "resources/resource.h"
#include "skin/ArtworkFit.h"
#include "skin/GdiScope.h"
#include "skin/SkinNote.h"

namespace {

// The shape in window coordinates; the panel has no frame, so these are
// client coordinates too, whatever pixel size the template's units give.
constexpr RoundedShape kPanelShape = {5, 7, 369, 122, 14};
// The artwork's margin beyond the shape, on the right and at the bottom.
constexpr int kOuterMargin = 4;

// Without the bitmap's header there is no size to stretch from; the ground
// then stays as the dialog's white brush erased it.
void PaintBackground(HDC dc, const RECT& client, HDC memory, HBITMAP bitmap) {
  BITMAP header;
  if (GetObjectA(bitmap, sizeof header, &header) == 0) {
    SkinNote("Error GetObject!\n");
    return;
  }
  ScopedSelect select(memory, bitmap);
  if (!select.selected()) return;
  StretchBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, header.bmWidth, header.bmHeight,
             SRCCOPY);
}

void PaintText(HDC dc, const RECT& client, const char* text) {
  LOGFONTA description;
  std::memset(&description, 0, sizeof description);
  description.lfHeight = 17;
  description.lfWeight = FW_MEDIUM;
  std::memcpy(description.lfFaceName, "Arial", sizeof "Arial");
  ScopedGdiObject font(CreateFontIndirectA(&description));
  ScopedSelect select(dc, font.get());  // undone before the font is deleted
  SetBkMode(dc, TRANSPARENT);
  RECT area = {client.left + 10, client.top + 14, client.right - 8, client.bottom};
  DrawTextA(dc, text, static_cast<int>(std::strlen(text)), &area, DT_WORDBREAK | DT_CENTER);
}

}  // namespace

HBITMAP SetUpPanel(HWND window) {
  // The stretched margin stays outside the shape.
  FitToArtwork(window, kPanelShape.right + kOuterMargin, kPanelShape.bottom + kOuterMargin);
  CutToShape(window, kPanelShape);
  // The panel's template and its bitmap come from the same module.
  const HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongA(window, GWL_HINSTANCE));
  return static_cast<HBITMAP>(
      LoadImageA(module, MAKEINTRESOURCEA(IDB_PANEL), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

INT_PTR PanelColour(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
}

void PaintPanel(HDC dc, const RECT& client, HBITMAP bitmap, const char* text) {
  {
    ScopedMemoryDc memory(dc);
    if (memory.get() == nullptr) return;
    PaintBackground(dc, client, memory.get(), bitmap);
  }
  PaintText(dc, client, text);
}

void ReleasePanel(HBITMAP& bitmap) {
  if (bitmap != nullptr) DeleteObject(bitmap);
  bitmap = nullptr;
}
