// A path box with a browse button at its right end that opens the Save dialog.

#include <algorithm>
#include <vector>

#include "platform/win32/win32_impl.h"
// After windows.h.
#include <uxtheme.h>
#include <vssym32.h>

namespace platform {

namespace {

struct FileNameImpl : Control::Impl {
  std::wstring filter;       // "Name\0pattern\0Name\0pattern\0\0"
  std::wstring default_ext;  // without "*."

  void command(HWND from, WORD code) override {
    if (from == extra && (code == BN_CLICKED || code == BN_DOUBLECLICKED))
      win32::invoke([this] { browse(); });
  }

  // The browse button shows "..." on a push button's face; its window text, 参照, is its
  // name for screen readers and its tooltip.
  void draw(const DRAWITEMSTRUCT& item) override {
    RECT r = item.rcItem;
    const bool pressed = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    if (const HTHEME theme = OpenThemeData(item.hwndItem, L"BUTTON")) {
      const int state = disabled ? PBS_DISABLED : pressed ? PBS_PRESSED : PBS_NORMAL;
      if (IsThemeBackgroundPartiallyTransparent(theme, BP_PUSHBUTTON, state))
        DrawThemeParentBackground(item.hwndItem, item.hDC, &r);
      DrawThemeBackground(theme, item.hDC, BP_PUSHBUTTON, state, &r, nullptr);
      CloseThemeData(theme);
    } else {
      DrawFrameControl(item.hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
      if (pressed) OffsetRect(&r, 1, 1);
    }
    const HGDIOBJ old = SelectObject(item.hDC, win32::font(kDefaultFontHeight));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    DrawTextW(item.hDC, L"...", 3, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item.hDC, old);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
      r = item.rcItem;
      InflateRect(&r, -win32::scale(3), -win32::scale(3));
      DrawFocusRect(item.hDC, &r);
    }
  }

  // The dialog opens in the folder of the path already in the box, with its file name.
  void browse() {
    const std::wstring current = win32::widen(win32::window_text(hwnd));
    const std::size_t slash = current.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : current.substr(0, slash);
    const std::wstring name = slash == std::wstring::npos ? current : current.substr(slash + 1);
    std::vector<wchar_t> file(32768, L'\0');
    name.copy(file.data(), std::min(name.size(), file.size() - 1));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = GetAncestor(hwnd, GA_ROOT);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrDefExt = default_ext.empty() ? nullptr : default_ext.c_str();
    ofn.Flags =
        OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (GetSaveFileNameW(&ofn)) SetWindowTextW(hwnd, file.data());
  }
};

std::wstring dialog_filter(const std::string& filter) {
  std::wstring out = win32::widen(filter);
  for (wchar_t& c : out)
    if (c == L'|') c = L'\0';
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

std::unique_ptr<Control::Impl> make_file_edit(Window& parent, Geometry g, int max_length,
                                              const std::string& filter,
                                              const std::string& default_ext) {
  auto impl = std::make_unique<FileNameImpl>();
  impl->filter = dialog_filter(filter);
  std::string ext = default_ext;
  if (ext.rfind("*.", 0) == 0) ext.erase(0, 2);
  impl->default_ext = win32::widen(ext);
  // The button is square, as high as the box, inside the given width.
  g = win32::scale(g);
  const int side = g.height;
  win32::create_child(*impl, parent, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                      {g.left, g.top, g.width - side, g.height});
  SendMessageW(impl->hwnd, EM_LIMITTEXT, static_cast<WPARAM>(max_length), 0);
  const std::wstring name = win32::widen("参照");
  impl->extra =
      CreateWindowExW(0, L"BUTTON", name.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                      g.left + g.width - side, g.top, side, g.height, parent.impl().hwnd, nullptr,
                      win32::instance(), nullptr);
  if (!impl->extra) throw Error("button: " + win32::system_message(GetLastError()));
  SendMessageW(impl->extra, WM_SETFONT, reinterpret_cast<WPARAM>(win32::font(kDefaultFontHeight)),
               FALSE);
  win32::attach(*impl, impl->extra);
  win32::add_tooltip(*impl, impl->extra, name);
  return impl;
}

}  // namespace

FileNameEdit::FileNameEdit(Window& parent, Geometry g, int max_length, const std::string& filter,
                           const std::string& default_ext)
    : Control(make_file_edit(parent, g, max_length, filter, default_ext)) {}

std::string FileNameEdit::text() const {
  return win32::window_text(impl_->hwnd);
}

void FileNameEdit::set_text(const std::string& text) {
  SetWindowTextW(impl_->hwnd, win32::widen(text).c_str());
}

}  // namespace platform
