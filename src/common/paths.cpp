// Path texts: joining, parents, the hand-over form, and the component rule that says whether one path
// lies inside another.
#include "common/paths.hpp"

#include <vector>

namespace tevra {
namespace {

// The longest drive-absolute or network path the file functions take without the "\\?\" prefix.
constexpr std::size_t longest_plain_path = 246;

bool is_bare_drive(std::u16string_view path) { return path.size() == 2 && starts_with_drive(path); }

bool starts_with_two_separators(std::u16string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

}  // namespace

std::u16string join_path(std::u16string_view base, std::u16string_view component) {
    std::u16string joined(base);
    if (!base.empty() && !is_separator(base.back()) && !is_bare_drive(base)) joined += u'\\';
    joined += component;
    return joined;
}

std::u16string parent_of(std::u16string_view path) {
    std::size_t end = path.size();
    while (end > 0 && is_separator(path[end - 1])) --end;
    while (end > 0 && !is_separator(path[end - 1])) --end;
    // Drop the separators before the last name, but keep a root ("\\", "C:\\").
    while (end > 1 && is_separator(path[end - 1]) && path[end - 2] != u':' && !is_separator(path[end - 2])) --end;
    return std::u16string(path.substr(0, end));
}

std::optional<std::u16string> directory_of(std::u16string_view file_path) {
    const std::size_t separator = file_path.find_last_of(u"\\/");
    if (separator == std::u16string_view::npos) return std::nullopt;
    return std::u16string(file_path.substr(0, separator + 1));
}

bool is_absolute_path(std::u16string_view path) {
    return (starts_with_drive(path) && path.size() >= 3 && is_separator(path[2])) || starts_with_two_separators(path);
}

bool passes_to_system_unchanged(std::u16string_view path) {
    if (path.starts_with(verbatim_prefix) || path.starts_with(u"\\??\\")) return true;
    const bool drive_absolute = starts_with_drive(path) && (path.size() == 2 || is_separator(path[2]));
    return (drive_absolute || starts_with_two_separators(path)) && path.size() <= longest_plain_path;
}

std::u16string extended_length_form(std::u16string_view full_path) {
    const std::u16string verbatim(verbatim_prefix);
    if (full_path.starts_with(verbatim_prefix)) return std::u16string(full_path);
    if (full_path.starts_with(device_prefix)) return verbatim + std::u16string(full_path.substr(device_prefix.size()));
    if (starts_with_two_separators(full_path)) return verbatim + u"UNC\\" + std::u16string(full_path.substr(2));
    return verbatim + std::u16string(full_path);
}

// The component rule: whether one path lies inside another, judged by whole components.
namespace {

enum class Kind { verbatim, verbatim_unc, verbatim_disk, device, unc, disk, root, name };

// One component. Which fields matter depends on the kind: a disk prefix has its drive letter
// (upper-cased), a network prefix its server and share, a name or any other prefix its name.
struct Component {
    Kind kind = Kind::name;
    std::u16string_view name;
    std::u16string_view server;
    std::u16string_view share;
    char16_t drive = 0;

    bool operator==(const Component&) const = default;
};

Component named(Kind kind, std::u16string_view name) {
    Component component;
    component.kind = kind;
    component.name = name;
    return component;
}

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

class Splitter {
public:
    explicit Splitter(std::u16string_view path) : rest_(path) {}

    std::vector<Component> components() {
        std::vector<Component> out;
        read_prefix(out);
        if (!rest_.empty() && separates(rest_.front())) out.push_back(named(Kind::root, {}));
        while (!rest_.empty()) {
            std::u16string_view name = take_until_separator();
            if (!rest_.empty()) rest_.remove_prefix(1);
            if (name.empty()) continue;
            if (name == u"." && !verbatim_) continue;
            out.push_back(named(Kind::name, name));
        }
        return out;
    }

private:
    // After "\\?\" only the backslash separates.
    bool separates(char16_t c) const { return verbatim_ ? c == u'\\' : is_separator(c); }

    // Up to the next separator, which stays.
    std::u16string_view take_until_separator() {
        std::size_t end = 0;
        while (end < rest_.size() && !separates(rest_[end])) ++end;
        std::u16string_view part = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return part;
    }

    Component take_server_and_share(Kind kind) {
        Component prefix = named(kind, {});
        prefix.server = take_until_separator();
        if (!rest_.empty()) rest_.remove_prefix(1);
        prefix.share = take_until_separator();
        return prefix;
    }

    bool at_drive() const { return starts_with_drive(rest_); }

    Component take_drive(Kind kind) {
        Component prefix = named(kind, {});
        prefix.drive = upper(rest_[0]);
        rest_.remove_prefix(2);
        return prefix;
    }

    void read_prefix(std::vector<Component>& out) {
        if (rest_.starts_with(verbatim_prefix)) {
            verbatim_ = true;
            rest_.remove_prefix(verbatim_prefix.size());
            if (rest_.starts_with(u"UNC\\")) {
                rest_.remove_prefix(4);
                out.push_back(take_server_and_share(Kind::verbatim_unc));
            } else if (at_drive() && rest_.size() >= 3 && rest_[2] == u'\\') {
                out.push_back(take_drive(Kind::verbatim_disk));
            } else {
                out.push_back(named(Kind::verbatim, take_until_separator()));
            }
        } else if (rest_.starts_with(device_prefix)) {
            rest_.remove_prefix(device_prefix.size());
            out.push_back(named(Kind::device, take_until_separator()));
        } else if (rest_.starts_with(u"\\\\")) {
            rest_.remove_prefix(2);
            out.push_back(take_server_and_share(Kind::unc));
        } else if (at_drive()) {
            out.push_back(take_drive(Kind::disk));
        }
    }

    std::u16string_view rest_;
    bool verbatim_ = false;
};

}  // namespace

bool path_starts_with(std::u16string_view path, std::u16string_view dir) {
    const std::vector<Component> path_parts = Splitter(path).components();
    const std::vector<Component> dir_parts = Splitter(dir).components();
    if (dir_parts.size() > path_parts.size()) return false;
    for (std::size_t i = 0; i < dir_parts.size(); ++i)
        if (dir_parts[i] != path_parts[i]) return false;
    return true;
}

}  // namespace tevra
