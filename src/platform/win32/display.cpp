#include "platform/win32/win32_impl.h"

namespace platform {

bool work_area(Rect& r) {
  RECT area{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return false;
  r = {area.left, area.top, area.right, area.bottom};
  return true;
}

// A mode of zero width or height is no reading at all.
bool display_mode(int& width, int& height) {
  DEVMODEW mode{};
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return false;
  if (mode.dmPelsWidth == 0 || mode.dmPelsHeight == 0) return false;
  width = static_cast<int>(mode.dmPelsWidth);
  height = static_cast<int>(mode.dmPelsHeight);
  return true;
}

}  // namespace platform
