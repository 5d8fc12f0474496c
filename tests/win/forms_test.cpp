// The program's two windows as the Windows back end builds them: the layout at the
// display's DPI, keyboard use and the names screen readers read. The DPI is the one of the
// Wine prefix; CTest runs them at 96 DPI and again at each of ADDROVA_WINE_DPIS.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "platform/platform.h"
#include "platform/win32/win32_impl.h"
// After windows.h.
#include <oleacc.h>

namespace {

using platform::win32::scale;

HWND hwnd_of(const platform::Control& c) {
  return c.impl().hwnd;
}

RECT client_rect_in_parent(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::wstring text_of(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

std::vector<HWND> children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM lp) {
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

// The text of the tooltip that some tooltip control of this thread shows for `tool`.
std::wstring tooltip_text(HWND tool) {
  struct Search {
    HWND tool;
    std::wstring text;
  } search{tool, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM lp) {
        auto& s = *reinterpret_cast<Search*>(lp);
        wchar_t cls[64] = {};
        GetClassNameW(hwnd, cls, 64);
        if (lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
        wchar_t buffer[256] = {};
        TOOLINFOW info{};
        info.cbSize = sizeof(info);
        info.hwnd = GetParent(s.tool);
        info.uId = reinterpret_cast<UINT_PTR>(s.tool);
        info.lpszText = buffer;
        if (SendMessageW(hwnd, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info))) {
          s.text = buffer;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.text;
}

// The name a screen reader gets through Active Accessibility.
std::wstring accessible_name(HWND hwnd) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object))) ||
      !object)
    return L"(no object)";
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring out = L"(no name)";
  if (SUCCEEDED(object->get_accName(self, &name)) && name) out = name;
  SysFreeString(name);
  object->Release();
  return out;
}

class Forms : public testing::Test {
 protected:
  ~Forms() override { platform::set_idle_hook(nullptr); }  // the main form's first lookup
  TMainForm main_;
  TFormOption option_;
};

TEST_F(Forms, TheProgramIsDpiAwareAndItsLayoutScalesToTheDisplay) {
  EXPECT_TRUE(IsProcessDPIAware());
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(platform::win32::dpi(), dpi);
  std::printf("display: %d DPI\n", dpi);
  // Under CTest the rerun at a scaled DPI names the DPI its Wine prefix was made with.
  if (const char* wanted = std::getenv("ADDROVA_WINE_DPI")) {
    EXPECT_EQ(dpi, std::atoi(wanted));
  }

  RECT client{};
  GetClientRect(main_.Window().impl().hwnd, &client);
  EXPECT_EQ(client.right, MulDiv(402, dpi, 96));
  EXPECT_EQ(client.bottom, MulDiv(39, dpi, 96));
  GetClientRect(option_.Window().impl().hwnd, &client);
  EXPECT_EQ(client.right, MulDiv(484, dpi, 96));
  EXPECT_EQ(client.bottom, MulDiv(256, dpi, 96));
  // Controls by their edges: 閉じる at (392, 208), 82 x 25.
  const RECT close = client_rect_in_parent(hwnd_of(option_.btnClose));
  EXPECT_EQ(close.left, MulDiv(392, dpi, 96));
  EXPECT_EQ(close.top, MulDiv(208, dpi, 96));
  EXPECT_EQ(close.right, MulDiv(392 + 82, dpi, 96));
  EXPECT_EQ(close.bottom, MulDiv(208 + 25, dpi, 96));
  SIZE picture{};
  EXPECT_NE(platform::win32::picture("image120", picture), nullptr);
  EXPECT_EQ(picture.cx, MulDiv(120, dpi, 96));
  EXPECT_EQ(picture.cy, MulDiv(120, dpi, 96));
}

TEST_F(Forms, NoControlIsCutOffOrOverlapsAnother) {
  for (platform::Window* w : {&main_.Window(), &option_.Window()}) {
    RECT client{};
    GetClientRect(w->impl().hwnd, &client);
    const std::vector<HWND> all = children(w->impl().hwnd);
    for (std::size_t i = 0; i < all.size(); ++i) {
      const RECT a = client_rect_in_parent(all[i]);
      EXPECT_GE(a.left, 0);
      EXPECT_GE(a.top, 0);
      EXPECT_LE(a.right, client.right);
      EXPECT_LE(a.bottom, client.bottom);
      for (std::size_t j = i + 1; j < all.size(); ++j) {
        // The up-down arrows lie on their box's border, as the system places them.
        using platform::win32::control_of;
        if (control_of(all[i]) == control_of(all[j])) continue;
        const RECT b = client_rect_in_parent(all[j]);
        RECT both;
        EXPECT_FALSE(IntersectRect(&both, &a, &b))
            << "\"" << platform::win32::narrow(text_of(all[i])) << "\" (" << a.left << ", " << a.top
            << ", " << a.right << ", " << a.bottom << ") and \""
            << platform::win32::narrow(text_of(all[j])) << "\" (" << b.left << ", " << b.top << ", "
            << b.right << ", " << b.bottom << ")";
      }
    }
  }
  // The check boxes hold their square and their whole caption.
  for (const platform::CheckBox* box :
       {&option_.cbStartUp, &option_.cbTimer, &option_.cbFileSave, &option_.cbNotify}) {
    RECT r{};
    GetClientRect(hwnd_of(*box), &r);
    EXPECT_GE(r.bottom, GetSystemMetrics(SM_CYMENUCHECK));
    EXPECT_GE(r.right, GetSystemMetrics(SM_CXMENUCHECK) +
                           platform::win32::text_width(text_of(hwnd_of(*box))));
  }
}

TEST_F(Forms, PictureButtonsAndTheBrowseButtonAreNamedWithATooltip) {
  const HWND gear = hwnd_of(main_.btnOption);
  EXPECT_EQ(text_of(gear), L"設定");
  EXPECT_EQ(tooltip_text(gear), L"設定");
  EXPECT_EQ(accessible_name(gear), L"設定");
  const HWND browse = option_.edtFileName.impl().extra;
  EXPECT_EQ(text_of(browse), L"参照");
  EXPECT_EQ(tooltip_text(browse), L"参照");
  EXPECT_EQ(accessible_name(browse), L"参照");
  EXPECT_EQ(tooltip_text(hwnd_of(main_.Button1)), L"");  // a caption needs no tooltip
}

// Tab as the program's message loop passes it on: through IsDialogMessage.
void press(HWND root, WPARAM key) {
  MSG msg{};
  msg.hwnd = GetFocus();
  msg.message = WM_KEYDOWN;
  msg.wParam = key;
  msg.lParam = 1;
  if (!IsDialogMessageW(root, &msg)) DispatchMessageW(&msg);
  msg.message = WM_KEYUP;
  msg.lParam = static_cast<LPARAM>(0xC0000001u);
  if (!IsDialogMessageW(root, &msg)) DispatchMessageW(&msg);
}

TEST_F(Forms, TabReachesTheAuthorPanelWhereSpaceAndEnterWorkIt) {
  const HWND dialog = option_.Window().impl().hwnd;
  option_.edtSec.set_enabled(true);
  option_.edtFileName.set_enabled(true);
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  SetFocus(hwnd_of(option_.btnClose));
  ASSERT_EQ(GetFocus(), hwnd_of(option_.btnClose));
  const std::vector<HWND> expected = {
      hwnd_of(option_.cbStartUp),  hwnd_of(option_.sPanel1),     hwnd_of(option_.cbTimer),
      hwnd_of(option_.edtSec),     hwnd_of(option_.edtFileName), option_.edtFileName.impl().extra,
      hwnd_of(option_.cbFileSave), hwnd_of(option_.sButton1),    hwnd_of(option_.cbNotify),
      hwnd_of(option_.btnClose)};
  std::vector<HWND> seen;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    press(dialog, VK_TAB);
    seen.push_back(GetFocus());
  }
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(GetWindowLongW(hwnd_of(option_.sPanel1), GWL_STYLE) & WS_TABSTOP);

  const HWND panel = hwnd_of(option_.sPanel1);
  int clicks = 0;
  option_.sPanel1.on_click([&clicks] { ++clicks; });  // instead of opening the home page
  SetFocus(panel);
  press(dialog, VK_SPACE);
  EXPECT_EQ(clicks, 1);
  press(dialog, VK_RETURN);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(GetFocus(), panel);
  ShowWindow(dialog, SW_HIDE);
}

// The panel's picture of itself, as WM_PRINTCLIENT draws it.
std::vector<DWORD> snapshot(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HDC dc = CreateCompatibleDC(nullptr);
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  const auto* pixels = static_cast<const DWORD*>(bits);
  std::vector<DWORD> out(pixels, pixels + r.right * r.bottom);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return out;
}

TEST_F(Forms, TheAuthorPanelShowsAFocusMarkWhileFocused) {
  const HWND dialog = option_.Window().impl().hwnd;
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  SetFocus(hwnd_of(option_.btnClose));
  const std::vector<DWORD> without = snapshot(hwnd_of(option_.sPanel1));
  SetFocus(hwnd_of(option_.sPanel1));
  const std::vector<DWORD> with = snapshot(hwnd_of(option_.sPanel1));
  ASSERT_FALSE(with.empty());
  // The mark is a dotted frame: pixels change along the edges, not in the middle.
  RECT r{};
  GetClientRect(hwnd_of(option_.sPanel1), &r);
  int edge_changes = 0, inner_changes = 0;
  for (int y = 0; y < r.bottom; ++y)
    for (int x = 0; x < r.right; ++x) {
      if (with[y * r.right + x] == without[y * r.right + x]) continue;
      const bool edge = x < 3 || y < 3 || x >= r.right - 3 || y >= r.bottom - 3;
      ++(edge ? edge_changes : inner_changes);
    }
  EXPECT_GT(edge_changes, r.right / 2);
  EXPECT_EQ(inner_changes, 0);
  ShowWindow(dialog, SW_HIDE);
}

}  // namespace
