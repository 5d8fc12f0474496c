// The version resource of the executables, as Explorer's Details tab reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring module_path() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

class VersionResource : public testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = module_path();
    DWORD handle = 0;
    data_.resize(GetFileVersionInfoSizeW(path.c_str(), &handle));
    ASSERT_FALSE(data_.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data()));
  }

  std::wstring string(const wchar_t* name) {
    // The one translation the resource declares: Japanese, UTF-16.
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
        !value)
      return L"(none)";
    return value;
  }

  std::vector<char> data_;
};

TEST_F(VersionResource, NamesTheProductItsVersionAndItsMakers) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // 1.0.0.0, the project's version.
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(ADDROVA_VERSION_MINOR, ADDROVA_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, ADDROVA_VERSION_PATCH));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  const std::wstring version = std::to_wstring(ADDROVA_VERSION_MAJOR) + L"." +
                               std::to_wstring(ADDROVA_VERSION_MINOR) + L"." +
                               std::to_wstring(ADDROVA_VERSION_PATCH) + L".0";
  EXPECT_EQ(string(L"FileVersion"), version);
  EXPECT_EQ(string(L"ProductVersion"), version);
  EXPECT_EQ(string(L"ProductName"), L"Addrova");
  EXPECT_EQ(string(L"OriginalFilename"), L"Addrova.exe");
  EXPECT_EQ(string(L"CompanyName"), L"Addrova Developers");
  EXPECT_EQ(string(L"LegalCopyright"), L"Copyright 2026 Addrova Developers");
  EXPECT_EQ(string(L"FileDescription"),
            L"Addrova - show the public IPv4 address and copy it to the clipboard");
}

}  // namespace
