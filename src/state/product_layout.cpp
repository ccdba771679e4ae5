#include "state/product_layout.hpp"

#include "common/paths.hpp"

#include <utility>

namespace tevra {
namespace {

std::u16string product_dir(const std::optional<std::u16string>& local_app_data,
                           const std::optional<std::u16string>& user_profile) {
    constexpr std::u16string_view name = u"Tevra Remote";
    if (local_app_data) return join_path(*local_app_data, name);
    if (user_profile) return join_path(join_path(join_path(*user_profile, u"AppData"), u"Local"), name);
    return join_path(u".", name);
}

}  // namespace

ProductLayout product_layout(const std::optional<std::u16string>& local_app_data,
                             const std::optional<std::u16string>& user_profile) {
    std::u16string dir = product_dir(local_app_data, user_profile);
    std::u16string updates = join_path(dir, u"Updates");
    std::u16string recovery = join_path(updates, u"Recovery");
    return {dir,
            std::move(updates),
            std::move(recovery),
            join_path(dir, u"CrashReports"),
            join_path(dir, u"update_state.json"),
            join_path(dir, u"update_state.json.tmp")};
}

}  // namespace tevra
