#include "platform.hpp"

#include "harness.hpp"

#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace e2e {

bool under_wine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

std::span<const Difference> differences() {
    static constexpr Difference table[] = {
        {"Apply.SelfSignedPackage",
         "signed with a self-signed certificate: Wine checks no chain to a trusted root, Valid, installed; Windows "
         "gives CERT_E_UNTRUSTEDROOT, Invalid, refused"},
        {"Apply.PackageAlteredAfterSigning",
         "a signed package changed after signing: Wine never checks an MSI's digest, Valid, installed; Windows gives "
         "TRUST_E_BAD_DIGEST, Invalid, refused"},
        {"Apply.FolderRenameDuringHold",
         "the installer renames the folder of the held package: Wine allows it; on Windows the open package pins "
         "its folder (error 5)"},
        {"Apply.StagingPathLongerThanMaxPath",
         "a staged package at a path over 260 units: Wine's GetFinalPathNameByHandleW fails with 234, refused; "
         "Windows installs it"},
        {"Driver.SaveOverAReaderSharingEverything",
         "a reader holds the state file sharing read, write and delete: Wine has no POSIX-semantics rename and the "
         "save is dropped; Windows replaces the file"},
        {"Driver.SaveOverATmpLink",
         "a stale temporary file that is a symbolic link: Wine follows it even when told not to, and the save fails; "
         "Windows opens the link itself, removes it and saves"},
    };
    return table;
}

bool expects_wine() {
    const testing::TestInfo& test = *testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test.test_suite_name()) + "." + test.name();
    EXPECT_TRUE(std::ranges::any_of(differences(), [&](const Difference& entry) { return entry.test == name; }))
        << name << " expects per platform but is missing from the table of differences";
    wchar_t chosen[16] = {};
    if (!::GetEnvironmentVariableW(L"TEVRA_CHECK_EXPECT", chosen, 16)) return under_wine();
    if (std::wstring_view(chosen) == L"wine") return true;
    if (std::wstring_view(chosen) == L"windows") return false;
    throw std::runtime_error("TEVRA_CHECK_EXPECT names neither windows nor wine");
}

std::optional<std::string> make_link(const fs::path& path, const std::wstring& target, const fs::path& cwd) {
    if (!under_wine()) {
        // Without the privilege (or developer mode) the account can't make one: the row is skipped, not passed.
        const DWORD directory = fs::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
        if (::CreateSymbolicLinkW(path.c_str(), target.c_str(),
                                  directory | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
            return std::nullopt;
        return "this account can't make a symbolic link (CreateSymbolicLinkW error " +
               std::to_string(::GetLastError()) + ")";
    }
    // Wine's CreateSymbolicLinkW reports success and makes nothing: ln makes the link. Wine does not wait for a Unix
    // program, and under load a start may leave no trace: poll for the link, start ln again when none comes.
    std::wstring line = L"/bin/ln -s \"" + target.substr(2) + L"\" \"" + path.wstring().substr(2) + L"\"";
    std::ranges::replace(line, L'\\', L'/');
    for (int attempt = 0; attempt < 10; ++attempt) {
        start(L"Z:\\bin\\ln", line, cwd).finish();
        for (int poll = 0; poll < 200; ++poll, ::Sleep(10))
            if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return std::nullopt;
    }
    throw std::runtime_error("no link made");
}

std::string os_error(DWORD code, std::string_view wine_message) {
    std::string message(wine_message);
    if (!under_wine()) {
        wchar_t text[2048];
        DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, 2048, nullptr);
        while (length > 0 && std::wstring_view(L" \t\r\n").find(text[length - 1]) != std::wstring_view::npos) --length;
        message.resize(::WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr));
        ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), message.data(), int(message.size()), nullptr, nullptr);
    }
    return message + " (os error " + std::to_string(code) + ")";
}

}  // namespace e2e

// `--differences` prints the table (name, a tab, why; one line each) for the check kit and runs no test.
int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--differences") {
        _setmode(_fileno(stdout), _O_BINARY);  // a line ends in LF alone, whoever reads it
        for (const auto& [test, why] : e2e::differences())
            std::printf("%.*s\t%.*s\n", int(test.size()), test.data(), int(why.size()), why.data());
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
