// Pictures of windows and of the screen: what the tests compare pixel by
// pixel, and what both the tests and the demo keep as BMP files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Pixels as 0x00RRGGBB, top row first.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<unsigned> pixels;
  unsigned At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// `width` x `height` pixels at (x, y) of `dc`; empty when they cannot be read.
Capture CaptureDc(HDC dc, int x, int y, int width, int height);
// `area` of the screen, as the display shows it.
Capture CaptureScreen(const RECT& area);
// The whole window, frame included, as its own DC holds it; what lies outside
// the window's shape is white, as on a page.
Capture CaptureWindow(HWND window);
// A fingerprint of the pixels: it changes when what they show changes.
unsigned PixelPrint(const Capture& capture);
// Writes `capture` to `path` as a 24-bit BMP file.
bool SaveBmp(const Capture& capture, const std::string& path);
