// Texts the address box can show besides an address.
#pragma once

namespace shared {

inline constexpr char kBusyText[] = "取得中です…";
inline constexpr char kErrorText[] = "取得エラー";

}  // namespace shared
