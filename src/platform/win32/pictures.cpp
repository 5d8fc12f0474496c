// Picture resources: 32-bit bitmaps with straight alpha (or 24-bit opaque ones), drawn
// with their transparency over whatever lies beneath.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>

#include "platform/win32/win32_impl.h"

namespace platform::win32 {

namespace {

struct Loaded {
  HBITMAP bitmap = nullptr;
  SIZE size{};
};

// The value of a colour channel under the mask, scaled to 0..255.
std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const std::uint32_t max = mask >> shift;
  return static_cast<std::uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
}

// Reads a device-independent bitmap (as stored in a BITMAP resource) into a top-down
// premultiplied 32-bit DIB section.
Loaded decode(const std::uint8_t* data, std::size_t size) {
  BITMAPINFOHEADER h;
  if (size < sizeof(h)) return {};
  std::memcpy(&h, data, sizeof(h));
  const int bits = h.biBitCount;
  if ((bits != 24 && bits != 32) || h.biWidth <= 0 || h.biHeight == 0 ||
      (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS))
    return {};
  std::uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  std::size_t offset = h.biSize;
  if (h.biCompression == BI_BITFIELDS) {
    // The masks follow a plain header, or sit inside a V4/V5 header (with alpha).
    const std::size_t at = sizeof(BITMAPINFOHEADER);
    if (size < at + 12) return {};
    std::memcpy(masks, data + at, 12);
    masks[3] = 0;
    if (h.biSize >= sizeof(BITMAPV4HEADER)) std::memcpy(&masks[3], data + at + 12, 4);
    if (h.biSize == sizeof(BITMAPINFOHEADER)) offset += 12;
  }
  offset += static_cast<std::size_t>(h.biClrUsed) * 4;
  const int width = h.biWidth;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (size < offset + stride * height) return {};
  const std::uint8_t* pixels = data + offset;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* out_bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &out_bits, nullptr, 0);
  if (!bitmap) return {};
  auto* out = static_cast<std::uint8_t*>(out_bits);

  // A 32-bit picture whose alpha is zero everywhere carries no transparency at all.
  bool any_alpha = false;
  if (bits == 32 && masks[3])
    for (int y = 0; y < height && !any_alpha; ++y)
      for (int x = 0; x < width && !any_alpha; ++x) {
        std::uint32_t p;
        std::memcpy(&p, pixels + y * stride + x * 4, 4);
        any_alpha = (p & masks[3]) != 0;
      }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + (h.biHeight > 0 ? height - 1 - y : y) * stride;
    for (int x = 0; x < width; ++x) {
      std::uint8_t r, g, b, a = 255;
      if (bits == 24) {
        b = row[x * 3];
        g = row[x * 3 + 1];
        r = row[x * 3 + 2];
      } else {
        std::uint32_t p;
        std::memcpy(&p, row + x * 4, 4);
        r = channel(p, masks[0]);
        g = channel(p, masks[1]);
        b = channel(p, masks[2]);
        if (any_alpha) a = channel(p, masks[3]);
      }
      std::uint8_t* o = out + (static_cast<std::size_t>(y) * width + x) * 4;
      o[0] = static_cast<std::uint8_t>((b * a + 127) / 255);
      o[1] = static_cast<std::uint8_t>((g * a + 127) / 255);
      o[2] = static_cast<std::uint8_t>((r * a + 127) / 255);
      o[3] = a;
    }
  }
  return {bitmap, {width, height}};
}

// The picture at another size, each pixel interpolated between its four nearest source
// pixels. Premultiplied colours blend correctly this way at the transparent edges.
Loaded resize(const Loaded& from, SIZE to) {
  BITMAP source{};
  if (!GetObjectW(from.bitmap, sizeof(source), &source) || !source.bmBits || to.cx <= 0 ||
      to.cy <= 0)
    return from;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = to.cx;
  info.bmiHeader.biHeight = -to.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* out_bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &out_bits, nullptr, 0);
  if (!bitmap) return from;
  const auto* in = static_cast<const std::uint8_t*>(source.bmBits);
  auto* out = static_cast<std::uint8_t*>(out_bits);
  const int sw = from.size.cx, sh = from.size.cy;
  // Source coordinate of a target pixel's centre, as a whole pixel and a fraction of 256.
  auto map = [](int t, int target, int src, int& whole, int& frac) {
    const long long fixed = ((2LL * t + 1) * src * 256) / (2LL * target) - 128;
    const long long clamped = std::clamp<long long>(fixed, 0, (src - 1) * 256LL);
    whole = static_cast<int>(clamped >> 8);
    frac = static_cast<int>(clamped & 255);
  };
  for (int y = 0; y < to.cy; ++y) {
    int y0, fy;
    map(y, to.cy, sh, y0, fy);
    const int y1 = std::min(y0 + 1, sh - 1);
    for (int x = 0; x < to.cx; ++x) {
      int x0, fx;
      map(x, to.cx, sw, x0, fx);
      const int x1 = std::min(x0 + 1, sw - 1);
      const std::uint8_t* p00 = in + (static_cast<std::size_t>(y0) * sw + x0) * 4;
      const std::uint8_t* p01 = in + (static_cast<std::size_t>(y0) * sw + x1) * 4;
      const std::uint8_t* p10 = in + (static_cast<std::size_t>(y1) * sw + x0) * 4;
      const std::uint8_t* p11 = in + (static_cast<std::size_t>(y1) * sw + x1) * 4;
      std::uint8_t* o = out + (static_cast<std::size_t>(y) * to.cx + x) * 4;
      for (int c = 0; c < 4; ++c) {
        const int top = p00[c] * (256 - fx) + p01[c] * fx;
        const int bottom = p10[c] * (256 - fx) + p11[c] * fx;
        o[c] = static_cast<std::uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
      }
    }
  }
  DeleteObject(from.bitmap);
  return {bitmap, to};
}

}  // namespace

HBITMAP picture(const char* name, SIZE& size) {
  static std::map<std::string, Loaded> cache;
  auto found = cache.find(name);
  if (found == cache.end()) {
    Loaded loaded;
    const std::wstring wide = widen(name);
    if (HRSRC res = FindResourceW(instance(), wide.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */))
      if (HGLOBAL mem = LoadResource(instance(), res))
        loaded = decode(static_cast<const std::uint8_t*>(LockResource(mem)),
                        SizeofResource(instance(), res));
    if (loaded.bitmap && dpi() != 96)
      loaded = resize(loaded, {scale(loaded.size.cx), scale(loaded.size.cy)});
    found = cache.emplace(name, loaded).first;
  }
  size = found->second.size;
  return found->second.bitmap;
}

void draw_picture(HDC dc, const RECT& r, const char* name, BYTE opacity) {
  SIZE size{};
  const HBITMAP bitmap = picture(name, size);
  if (!bitmap) return;
  const HDC memory = CreateCompatibleDC(dc);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  const int x = r.left + (r.right - r.left - size.cx) / 2;
  const int y = r.top + (r.bottom - r.top - size.cy) / 2;
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, opacity, AC_SRC_ALPHA};
  AlphaBlend(dc, x, y, size.cx, size.cy, memory, 0, 0, size.cx, size.cy, blend);
  SelectObject(memory, old);
  DeleteDC(memory);
}

}  // namespace platform::win32
