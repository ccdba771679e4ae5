// Portable: where the product keeps its files, as path texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tevra {

inline constexpr std::u16string_view product_dir_name = u"Tevra Remote";
inline constexpr std::u16string_view updates_dir_name = u"Updates";
inline constexpr std::u16string_view state_file_name = u"update_state.json";
inline constexpr std::u16string_view temporary_file_name = u"update_state.json.tmp";

// The product's directory from the values of LOCALAPPDATA and USERPROFILE (nothing when undefined):
// LOCALAPPDATA, even when empty; else USERPROFILE\AppData\Local; else "."; then "Tevra Remote".
std::u16string product_data_dir(const std::optional<std::u16string>& local_app_data,
                                const std::optional<std::u16string>& user_profile);

}  // namespace tevra
