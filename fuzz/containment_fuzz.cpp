// Whether a path lies inside a directory, on any pair of texts (the fuzz bytes read as UTF-8 and
// cut at the first NUL into the path and the directory):
// - a path lies inside itself;
// - a name appended to a path lies inside it, and inside every directory the path lies in, and the
//   path does not lie inside it, as long as the appended separator cannot change the path's prefix
//   (a drive path, or a path with no prefix at all: "\\server" plus "\name" is a different
//   server's share, and so on).
#include "common/paths.hpp"
#include "common/utf.hpp"
#include "require.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using tevra::starts_with_drive;

bool is_drive_path(std::u16string_view p) {
    const std::size_t after = tevra::verbatim_prefix.size();
    return starts_with_drive(p) || (p.starts_with(tevra::verbatim_prefix) && starts_with_drive(p.substr(after)) &&
                                    p.size() > after + 2 && p[after + 2] == u'\\');
}

// Appending "\name" keeps the prefix: both are drive paths, or neither has a prefix ("\" plus "\name" is a network
// path, "\\server" plus "\name" a share).
bool appending_keeps_prefix(std::u16string_view p, std::u16string_view longer) {
    const auto has_prefix = [](std::u16string_view text) {
        return text.starts_with(u"\\\\") || starts_with_drive(text);
    };
    return (is_drive_path(p) && is_drive_path(longer)) || (!has_prefix(p) && !has_prefix(longer));
}

void check(std::u16string_view path, std::u16string_view dir) {
    require(tevra::path_starts_with(path, path), "a path lies inside itself");
    const bool inside = tevra::path_starts_with(path, dir);
    const std::u16string longer = std::u16string(path) + u"\\name";
    if (!appending_keeps_prefix(path, longer)) return;
    require(tevra::path_starts_with(longer, path), "a name appended to a path lies inside it");
    require(!tevra::path_starts_with(path, longer), "a path does not lie inside its own child");
    if (inside) require(tevra::path_starts_with(longer, dir), "what lies inside a path lies inside its directories");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = tevra::utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::size_t cut = text.find(u'\0');
    const std::u16string_view whole(text);
    const std::u16string_view path = whole.substr(0, cut);
    const std::u16string_view dir = cut == std::u16string::npos ? whole : whole.substr(cut + 1);
    check(path, dir);
    check(dir, path);
    return 0;
}
