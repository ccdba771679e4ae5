#include "state/product_layout.hpp"

#include "common/paths.hpp"

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
    ProductLayout layout;
    layout.product_dir = product_dir(local_app_data, user_profile);
    layout.updates_dir = join_path(layout.product_dir, u"Updates");
    layout.recovery_dir = join_path(layout.updates_dir, u"Recovery");
    layout.crash_reports_dir = join_path(layout.product_dir, u"CrashReports");
    layout.state_file = join_path(layout.product_dir, u"update_state.json");
    layout.temporary_file = join_path(layout.product_dir, u"update_state.json.tmp");
    return layout;
}

}  // namespace tevra
