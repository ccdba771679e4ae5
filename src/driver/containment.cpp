#include "driver/containment.hpp"

#include <vector>

namespace tevra {
namespace {

enum class Kind { verbatim, verbatim_unc, verbatim_disk, device, unc, disk, root, name };

struct Component {
    Kind kind;
    std::u16string_view first;   // prefix name, server, or the name itself
    std::u16string_view second;  // share
    char16_t drive = 0;

    bool operator==(const Component& other) const {
        if (kind != other.kind) return false;
        if (kind == Kind::disk || kind == Kind::verbatim_disk) return drive == other.drive;
        return first == other.first && second == other.second;
    }
};

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

class Splitter {
public:
    explicit Splitter(std::u16string_view path) : rest_(path) {}

    std::vector<Component> components() {
        std::vector<Component> out;
        read_prefix(out);
        if (!rest_.empty() && is_separator(rest_.front())) {
            out.push_back({Kind::root, {}, {}});
        }
        while (!rest_.empty()) {
            std::u16string_view name = take_component();
            if (name.empty()) continue;
            if (name == u"." && !verbatim_) continue;
            out.push_back({Kind::name, name, {}});
        }
        return out;
    }

private:
    bool is_separator(char16_t c) const { return c == u'\\' || (!verbatim_ && c == u'/'); }

    // Up to the next separator; the separator itself is consumed.
    std::u16string_view take_component() {
        std::size_t end = 0;
        while (end < rest_.size() && !is_separator(rest_[end])) ++end;
        std::u16string_view part = rest_.substr(0, end);
        rest_.remove_prefix(end < rest_.size() ? end + 1 : end);
        return part;
    }

    // Up to the next separator, which stays for the root.
    std::u16string_view take_prefix_part() {
        std::size_t end = 0;
        while (end < rest_.size() && !is_separator(rest_[end])) ++end;
        std::u16string_view part = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return part;
    }

    void skip_one_separator() {
        if (!rest_.empty() && is_separator(rest_.front())) rest_.remove_prefix(1);
    }

    void read_prefix(std::vector<Component>& out) {
        if (rest_.starts_with(u"\\\\?\\")) {
            verbatim_ = true;
            rest_.remove_prefix(4);
            if (rest_.starts_with(u"UNC\\")) {
                rest_.remove_prefix(4);
                std::u16string_view server = take_prefix_part();
                skip_one_separator();
                std::u16string_view share = take_prefix_part();
                out.push_back({Kind::verbatim_unc, server, share});
            } else if (rest_.size() >= 3 && is_letter(rest_[0]) && rest_[1] == u':' && rest_[2] == u'\\') {
                out.push_back({Kind::verbatim_disk, {}, {}, upper(rest_[0])});
                rest_.remove_prefix(2);
            } else {
                out.push_back({Kind::verbatim, take_prefix_part(), {}});
            }
        } else if (rest_.starts_with(u"\\\\.\\")) {
            rest_.remove_prefix(4);
            out.push_back({Kind::device, take_prefix_part(), {}});
        } else if (rest_.starts_with(u"\\\\")) {
            rest_.remove_prefix(2);
            std::u16string_view server = take_prefix_part();
            skip_one_separator();
            std::u16string_view share = take_prefix_part();
            out.push_back({Kind::unc, server, share});
        } else if (rest_.size() >= 2 && is_letter(rest_[0]) && rest_[1] == u':') {
            out.push_back({Kind::disk, {}, {}, upper(rest_[0])});
            rest_.remove_prefix(2);
        }
    }

    std::u16string_view rest_;
    bool verbatim_ = false;
};

}  // namespace

bool path_starts_with(std::u16string_view path, std::u16string_view dir) {
    std::vector<Component> path_parts = Splitter(path).components();
    std::vector<Component> dir_parts = Splitter(dir).components();
    if (dir_parts.size() > path_parts.size()) return false;
    for (std::size_t i = 0; i < dir_parts.size(); ++i) {
        if (!(dir_parts[i] == path_parts[i])) return false;
    }
    return true;
}

}  // namespace tevra
