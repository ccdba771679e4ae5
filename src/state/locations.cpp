#include "state/locations.hpp"

#include "common/paths.hpp"

namespace tevra {

std::u16string product_data_dir(const std::optional<std::u16string>& local_app_data,
                                const std::optional<std::u16string>& user_profile) {
    if (local_app_data) return join_path(*local_app_data, product_dir_name);
    if (user_profile) return join_path(join_path(join_path(*user_profile, u"AppData"), u"Local"), product_dir_name);
    return join_path(u".", product_dir_name);
}

}  // namespace tevra
