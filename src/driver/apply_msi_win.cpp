#include "driver/apply_msi.hpp"

namespace tevra {

std::expected<void, std::string> apply_msi(const std::string&, const std::string&) {
    return std::unexpected(std::string("msi apply is not available yet"));
}

}  // namespace tevra
