// Whether a path lies inside a directory, on any pair of texts (the fuzz bytes read as UTF-8 and
// cut at the first NUL into the path and the directory):
// - a path is inside a directory exactly when the directory's components begin the path's,
//   cross-checked against a simple splitter of this file's own for drive paths ("C:..." and
//   "\\?\C:\..."): the drive (in any case), the root, then the names;
// - a path lies inside itself;
// - a name appended to a path lies inside it, and inside every directory the path lies in, as
//   long as the appended separator cannot change the path's prefix (a drive path, or a path with
//   no prefix at all: "\\server" plus "\name" is a different server's share, and so on).
#include "common/utf.hpp"
#include "common/paths.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool is_drive_form(std::u16string_view p) { return p.size() >= 2 && is_letter(p[0]) && p[1] == u':'; }

bool has_prefix(std::u16string_view p) { return p.starts_with(u"\\\\") || is_drive_form(p); }

// The components of a drive path as plain texts: first the drive ("P:C" plain, "V:C" verbatim,
// letter in upper case), then "\" for the root, then every name. Anything else: nothing.
std::optional<std::vector<std::u16string>> drive_components(std::u16string_view p) {
    std::vector<std::u16string> parts;
    std::u16string_view separators;
    if (p.size() >= 7 && p.starts_with(u"\\\\?\\") && is_drive_form(p.substr(4)) && p[6] == u'\\') {
        parts.push_back(u"V:" + std::u16string(1, char16_t(p[4] & ~0x20)));
        p.remove_prefix(6);
        separators = u"\\";
    } else if (is_drive_form(p)) {
        parts.push_back(u"P:" + std::u16string(1, char16_t(p[0] & ~0x20)));
        p.remove_prefix(2);
        separators = u"\\/";
    } else {
        return std::nullopt;
    }
    const bool verbatim = separators.size() == 1;
    if (!p.empty() && separators.find(p[0]) != std::u16string_view::npos) parts.emplace_back(u"\\");
    std::u16string name;
    for (std::size_t i = 0; i <= p.size(); ++i) {
        if (i < p.size() && separators.find(p[i]) == std::u16string_view::npos) {
            name += p[i];
            continue;
        }
        // "." means nothing outside a verbatim path.
        if (!name.empty() && (verbatim || name != u".")) parts.push_back(name);
        name.clear();
    }
    return parts;
}

// A path without a prefix whose parts are all empty or ".": it has no component at all.
bool has_no_components(std::u16string_view p) {
    if (has_prefix(p) || (!p.empty() && (p[0] == u'\\' || p[0] == u'/'))) return false;
    std::u16string_view name;
    for (std::size_t start = 0; start <= p.size();) {
        std::size_t end = p.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos) end = p.size();
        name = p.substr(start, end - start);
        if (!name.empty() && name != u".") return false;
        start = end + 1;
    }
    return true;
}

bool begins_with(const std::vector<std::u16string>& whole, const std::vector<std::u16string>& head) {
    if (head.size() > whole.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] != whole[i]) return false;
    }
    return true;
}

// Appending "\name" keeps the prefix: both are drive paths, or neither has a prefix.
bool appending_keeps_prefix(std::u16string_view p, std::u16string_view longer) {
    if (drive_components(p) && drive_components(longer)) return true;
    return !has_prefix(p) && !has_prefix(longer);
}

void check_pair(std::u16string_view path, std::u16string_view dir) {
    const bool inside = tevra::path_starts_with(path, dir);
    const auto path_parts = drive_components(path);
    const auto dir_parts = drive_components(dir);
    if (path_parts && dir_parts) {
        require(inside == begins_with(*path_parts, *dir_parts), "drive paths go by whole components");
    } else if (dir_parts) {
        require(!inside, "only a drive path lies inside a drive path");
    } else if (path_parts) {
        require(inside == has_no_components(dir), "a drive path lies only inside drive paths or nothing");
    }

    const std::u16string longer = std::u16string(path) + u"\\name";
    if (inside && appending_keeps_prefix(path, longer)) {
        require(tevra::path_starts_with(longer, dir), "what lies inside a path lies inside its directories");
    }
}

void check_single(std::u16string_view p) {
    require(tevra::path_starts_with(p, p), "a path lies inside itself");
    const std::u16string longer = std::u16string(p) + u"\\name";
    if (appending_keeps_prefix(p, longer)) {
        require(tevra::path_starts_with(longer, p), "a name appended to a path lies inside it");
        require(!tevra::path_starts_with(p, longer), "a path does not lie inside its own child");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = tevra::utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::size_t cut = text.find(u'\0');
    const std::u16string_view whole(text);
    const std::u16string_view path = whole.substr(0, cut);
    const std::u16string_view dir = cut == std::u16string::npos ? whole : whole.substr(cut + 1);
    check_single(path);
    check_single(dir);
    check_pair(path, dir);
    check_pair(dir, path);
    return 0;
}
