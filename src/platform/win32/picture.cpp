#include "platform/win32/win32_impl.h"

namespace platform {

namespace {

// Drawn by the program, so that the picture's transparent parts show the window beneath.
struct PictureImpl : Control::Impl {
  std::string picture;

  void draw(const DRAWITEMSTRUCT& item) override {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    win32::draw_picture(item.hDC, item.rcItem, picture.c_str());
  }
};

std::unique_ptr<Control::Impl> make_picture(Window& parent, Geometry g, const char* picture) {
  auto impl = std::make_unique<PictureImpl>();
  impl->picture = picture;
  win32::create_child(*impl, parent, L"STATIC", L"", SS_OWNERDRAW, 0, win32::scale(g));
  return impl;
}

}  // namespace

Picture::Picture(Window& parent, Geometry g, PictureName picture)
    : Control(make_picture(parent, g, picture.name)) {}

}  // namespace platform
