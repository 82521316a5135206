#include "harness/Screenshot.h"

#include <cstdio>

Capture CaptureDc(HDC dc, int x, int y, int width, int height) {
  Capture capture;
  if (width <= 0 || height <= 0) return capture;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib == nullptr) return capture;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ previous = SelectObject(memory, dib);
  if (BitBlt(memory, 0, 0, width, height, dc, x, y, SRCCOPY)) {
    GdiFlush();
    capture.width = width;
    capture.height = height;
    const auto* source = static_cast<const unsigned*>(bits);
    capture.pixels.assign(source, source + static_cast<size_t>(width) * height);
    for (unsigned& pixel : capture.pixels) pixel &= 0xFFFFFF;
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(dib);
  return capture;
}

Capture CaptureScreen(const RECT& area) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return Capture();
  Capture capture =
      CaptureDc(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
  ReleaseDC(nullptr, screen);
  return capture;
}

Capture CaptureWindow(HWND window) {
  RECT frame;
  GetWindowRect(window, &frame);
  HDC dc = GetWindowDC(window);
  Capture capture = CaptureDc(dc, 0, 0, frame.right - frame.left, frame.bottom - frame.top);
  ReleaseDC(window, dc);
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  if (GetWindowRgn(window, shape) != ERROR) {
    for (int y = 0; y < capture.height; ++y) {
      for (int x = 0; x < capture.width; ++x) {
        if (!PtInRegion(shape, x, y)) {
          capture.pixels[static_cast<size_t>(y) * capture.width + x] = 0xFFFFFF;
        }
      }
    }
  }
  DeleteObject(shape);
  return capture;
}

unsigned PixelPrint(const Capture& capture) {
  unsigned hash = 2166136261u;
  for (unsigned pixel : capture.pixels) hash = (hash ^ pixel) * 16777619u;
  return hash;
}

bool SaveBmp(const Capture& capture, const std::string& path) {
  if (capture.pixels.empty()) return false;
  // Rows bottom up, three bytes a pixel in blue, green, red order, each row
  // padded to four bytes.
  const size_t stride = (static_cast<size_t>(capture.width) * 3 + 3) & ~size_t{3};
  std::vector<unsigned char> rows(stride * capture.height);
  for (int y = 0; y < capture.height; ++y) {
    unsigned char* row = &rows[(capture.height - 1 - y) * stride];
    for (int x = 0; x < capture.width; ++x) {
      const unsigned pixel = capture.At(x, y);
      row[3 * x] = static_cast<unsigned char>(pixel);
      row[3 * x + 1] = static_cast<unsigned char>(pixel >> 8);
      row[3 * x + 2] = static_cast<unsigned char>(pixel >> 16);
    }
  }
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = capture.width;
  header.biHeight = capture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(rows.size());
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                       std::fwrite(&header, sizeof header, 1, out) == 1 &&
                       std::fwrite(rows.data(), 1, rows.size(), out) == rows.size();
  return std::fclose(out) == 0 && written;
}
