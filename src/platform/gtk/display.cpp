#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

GdkMonitor* primary_monitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return nullptr;
  GdkMonitor* m = gdk_display_get_primary_monitor(display);
  return m ? m : gdk_display_get_monitor(display, 0);
}

}  // namespace

bool work_area(Rect& r) {
  GdkMonitor* m = primary_monitor();
  if (!m) return false;
  GdkRectangle a;
  gdk_monitor_get_workarea(m, &a);
  r = {a.x, a.y, a.x + a.width, a.y + a.height};
  return true;
}

// In the same logical pixels as the work area and window positions, so that on a scaled
// display (GDK_SCALE=2) a window placed from these sizes lands on the screen. A mode of
// zero width or height is no mode at all.
bool display_mode(int& width, int& height) {
  GdkMonitor* m = primary_monitor();
  if (!m) return false;
  GdkRectangle g;
  gdk_monitor_get_geometry(m, &g);
  if (g.width <= 0 || g.height <= 0) return false;
  width = g.width;
  height = g.height;
  return true;
}

}  // namespace platform
