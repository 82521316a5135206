// Painting of the wizard page: background, drawn buttons, title, body text,
// credits and version, all on the dialog's never-erased client area.
#include <cstring>

#include "device/DeviceUi.h"
#include "script/ListItems.h"
#include "shell/WizardState.h"
#include "shell/WizardWindow.h"
#include "skin/GdiScope.h"
#include "skin/SkinButtons.h"

namespace {

constexpr char kCredits[] = "Program: Zephlar team\nArtwork: Zephlar design";
constexpr char kVersion[] = "V2.01";

struct TextStyle {
  int height;
  int weight;
  COLORREF colour;
  UINT format;
};

// Draws `text` (at most `size` bytes) in Arial of the style's height and
// weight; returns the height drawn, as DrawTextA gives it.
int DrawPageText(HDC dc, const char* text, int size, const TextStyle& style, RECT rect) {
  LOGFONTA description;
  std::memset(&description, 0, sizeof description);
  description.lfHeight = style.height;
  description.lfWeight = style.weight;
  std::memcpy(description.lfFaceName, "Arial", sizeof "Arial");
  ScopedGdiObject font(CreateFontIndirectA(&description));
  ScopedSelect select(dc, font.get());  // undone before the font is deleted
  SetTextColor(dc, style.colour);
  return DrawTextA(dc, text, BoundedLength(text, size), &rect, style.format);
}

// The background image, unscaled at the client origin. Returns false when no
// memory context could be made: the page is then not painted at all.
bool PaintBackground(HDC dc, const RECT& client) {
  ScopedMemoryDc memory(dc);
  if (memory.get() == nullptr) return false;
  BITMAP header;
  if (GetObjectA(BackgroundBitmap, sizeof header, &header) == 0) {
    LogStatus("Error GetObject!\n");
  }
  ScopedSelect background(memory.get(), BackgroundBitmap);
  if (background.selected()) {
    BitBlt(dc, 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
  } else {
    // Without the artwork the client is never erased otherwise; a plain
    // ground keeps the texts readable.
    PatBlt(dc, 0, 0, client.right, client.bottom, WHITENESS);
  }
  return true;
}

void PaintTexts(HDC dc, const RECT& client) {
  const WizardStep& step = PageOnScreen();
  const LONG bottom = client.bottom;
  SetBkMode(dc, TRANSPARENT);
  // The title breaks only at its line feeds; an over-long word ends in "...".
  const int titleHeight =
      DrawPageText(dc, step.title, kStepTextSize, {19, 800, RGB(0, 0, 0), DT_WORD_ELLIPSIS},
                   {210, 35, 572, bottom});
  if (step.textboxtop != 0) {
    DrawPageText(dc, step.text, kStepTextSize, {17, 0, RGB(0, 0, 0), DT_WORDBREAK},
                 {210, 35 + titleHeight, 572, bottom});
  }
  DrawPageText(dc, kCredits, sizeof kCredits, {15, 0, RGB(100, 100, 100), 0},
               {200, 350, 572, bottom});
  DrawPageText(dc, kVersion, sizeof kVersion, {18, 0, RGB(120, 120, 120), 0},
               {8, 414, 572, bottom});
}

}  // namespace

void PaintWizardPage(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  if (dc != nullptr && PaintBackground(dc, client)) {
    PaintSkinButtons(dc, ButtonBitmaps, ButtonStates, ButtonRects, PageOnScreen().finish == 1);
    PaintTexts(dc, client);
  }
  EndPaint(window, &paint);
}

void RedrawButtons(HWND window) {
  ScopedWindowDc dc(window);
  if (dc.get() != nullptr) {
    PaintSkinButtons(dc.get(), ButtonBitmaps, ButtonStates, ButtonRects,
                     PageOnScreen().finish == 1);
  }
}
