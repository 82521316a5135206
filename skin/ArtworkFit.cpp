#include "skin/ArtworkFit.h"

namespace {

constexpr int kDesignDpi = 96;

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return kDesignDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

// The window's client size in pixels, changed to `width` x `height`.
void SetClientSize(HWND window, LONG width, LONG height) {
  RECT client, frame;
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + width - client.right,
               frame.bottom - frame.top + height - client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Moves and sizes every child by width / fromWidth across and height /
// fromHeight down.
void ScaleChildren(HWND window, int width, int fromWidth, int height, int fromHeight) {
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(child, nullptr, MulDiv(r.left, width, fromWidth),
                 MulDiv(r.top, height, fromHeight), MulDiv(r.right - r.left, width, fromWidth),
                 MulDiv(r.bottom - r.top, height, fromHeight), SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace

void CutToShape(HWND window, const RoundedShape& shape) {
  HRGN region = CreateRoundRectRgn(shape.left, shape.top, shape.right, shape.bottom, shape.corner,
                                   shape.corner);
  if (region != nullptr && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
}

void FitToArtwork(HWND window, int artWidth, int artHeight) {
  RECT client;
  GetClientRect(window, &client);
  if (client.right <= 0 || client.bottom <= 0) return;
  LONG width = client.right < artWidth ? artWidth : client.right;
  LONG height = client.bottom < artHeight ? artHeight : client.bottom;
  if (ScreenDpi() > kDesignDpi) {
    // Larger units than the artwork was drawn for: the window takes the
    // artwork's size and its controls keep their places on it.
    width = artWidth;
    height = artHeight;
    ScaleChildren(window, width, client.right, height, client.bottom);
  }
  if (width != client.right || height != client.bottom) SetClientSize(window, width, height);
}
