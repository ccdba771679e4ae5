// Reads the resources of the built TevraRemoteUpdater.exe and checks what Windows will see:
// the version information, the application manifest (as the loader parses it) and the icon group.
//
// The program checked is the path in the environment variable TEVRA_UPDATER_EXE (a Windows path,
// e.g. Z:\build\TevraRemoteUpdater.exe under Wine), or else TevraRemoteUpdater.exe beside this test.
// Link with -lversion.

#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring ProgramPath() {
    wchar_t buf[32768];
    DWORD n = GetEnvironmentVariableW(L"TEVRA_UPDATER_EXE", buf, 32768);
    if (n > 0 && n < 32768) return std::wstring(buf, n);
    n = GetModuleFileNameW(nullptr, buf, 32768);
    std::wstring self(buf, n);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"TevraRemoteUpdater.exe";
}

std::vector<unsigned char> VersionBlock() {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) block.clear();
    return block;
}

// Loads the program as an image resource module (no code runs), freed at scope end.
struct ResourceModule {
    HMODULE h = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~ResourceModule() { if (h) FreeLibrary(h); }
};

// The activation context Windows builds from the embedded manifest, released at scope end.
struct ManifestContext {
    HANDLE h = INVALID_HANDLE_VALUE;
    std::wstring path = ProgramPath();
    ManifestContext() {
        ACTCTXW ctx{};
        ctx.cbSize = sizeof ctx;
        ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.lpSource = path.c_str();
        ctx.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
        h = CreateActCtxW(&ctx);
    }
    ~ManifestContext() { if (h != INVALID_HANDLE_VALUE) ReleaseActCtx(h); }
};

// Test names and failure messages show the entry's name (all names here are ASCII).
std::string Ascii(const wchar_t* s) {
    std::string out;
    for (; *s; ++s) out += static_cast<char>(*s);
    return out;
}
template <class P> std::string NameOf(const testing::TestParamInfo<P>& info) {
    return Ascii(info.param.name);
}

struct VersionString { const wchar_t* name; const wchar_t* value; };
void PrintTo(const VersionString& v, std::ostream* os) { *os << Ascii(v.name); }

class VersionStringTest : public testing::TestWithParam<VersionString> {};

TEST_P(VersionStringTest, HasExactValueInEnglishUnicodeTable) {
    std::vector<unsigned char> block = VersionBlock();
    ASSERT_FALSE(block.empty()) << "no version resource, error " << GetLastError();
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + GetParam().name;
    void* value = nullptr;
    UINT chars = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), key.c_str(), &value, &chars));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Resources, VersionStringTest, testing::Values(
    VersionString{L"FileVersion", L"0.1.1.0"},
    VersionString{L"ProductVersion", L"0.1.1"},
    VersionString{L"ProductName", L"Tevra Remote"},
    VersionString{L"FileDescription", L"Tevra Remote Updater"},
    VersionString{L"InternalName", L"TevraRemoteUpdater"},
    VersionString{L"OriginalFilename", L"TevraRemoteUpdater.exe"}), NameOf<VersionString>);

TEST(Resources, FixedVersionIsZeroOneOneZeroAndTranslationIsEnglishUnicode) {
    std::vector<unsigned char> block = VersionBlock();
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
}

TEST(Resources, ManifestDeclaresIdentityAndInvokerLevel) {
    ManifestContext ctx;
    ASSERT_NE(ctx.h, INVALID_HANDLE_VALUE) << "manifest not accepted, error " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    ASSERT_TRUE(QueryActCtxW(0, ctx.h, nullptr, RunlevelInformationInActivationContext,
                             &level, sizeof level, nullptr));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);

    DWORD index = 1;  // the application's own assembly
    std::vector<unsigned char> buf(4096);
    SIZE_T needed = 0;
    ASSERT_TRUE(QueryActCtxW(0, ctx.h, &index, AssemblyDetailedInformationInActivationContext,
                             buf.data(), buf.size(), &needed)) << GetLastError();
    auto* info = reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buf.data());
    std::wstring identity(info->lpAssemblyEncodedAssemblyIdentity);
    EXPECT_EQ(identity.substr(0, identity.find(L',')), L"TevraRemote") << identity;
    EXPECT_NE(identity.find(L"version=\"1.0.0.0\""), std::wstring::npos) << identity;
}

struct DpiSetting { const wchar_t* ns; const wchar_t* name; const wchar_t* value; };
void PrintTo(const DpiSetting& d, std::ostream* os) { *os << Ascii(d.name); }

class ManifestSettingTest : public testing::TestWithParam<DpiSetting> {};

// Looks the setting up under its own namespace, as Windows does: a setting written in the wrong
// namespace is not found.
TEST_P(ManifestSettingTest, IsSetInItsNamespace) {
    ManifestContext ctx;
    ASSERT_NE(ctx.h, INVALID_HANDLE_VALUE) << GetLastError();
    wchar_t value[64] = {};
    SIZE_T written = 0;
    ASSERT_TRUE(QueryActCtxSettingsW(0, ctx.h, GetParam().ns, GetParam().name, value, 64, &written))
        << "error " << GetLastError();
    EXPECT_STREQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Resources, ManifestSettingTest, testing::Values(
    DpiSetting{L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"},
    DpiSetting{L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
               L"PerMonitorV2"}), NameOf<DpiSetting>);

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(Resources, IconGroupHoldsLoadableImagesOfEachSize) {
    ResourceModule module;
    ASSERT_NE(module.h, nullptr) << GetLastError();
    HRSRC group = FindResourceW(module.h, L"IDI_ICON1", RT_GROUP_ICON);
    ASSERT_NE(group, nullptr) << "no icon group IDI_ICON1";
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(module.h, group)));
    WORD count = 0;
    std::memcpy(&count, dir + 4, sizeof count);
    ASSERT_GE(SizeofResource(module.h, group), 6u + count * sizeof(GroupIconEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry e;
        std::memcpy(&e, dir + 6 + i * sizeof e, sizeof e);
        int size = e.width == 0 ? 256 : e.width;
        sizes.insert(size);
        HRSRC image = FindResourceW(module.h, MAKEINTRESOURCEW(e.id), RT_ICON);
        ASSERT_NE(image, nullptr) << "icon image " << e.id << " missing";
        DWORD bytes = SizeofResource(module.h, image);
        EXPECT_EQ(bytes, e.bytes);
        auto* data = static_cast<PBYTE>(LockResource(LoadResource(module.h, image)));
        HICON icon = CreateIconFromResourceEx(data, bytes, TRUE, 0x00030000, size, size, 0);
        EXPECT_NE(icon, nullptr) << "image of size " << size << " does not load";
        if (icon) DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
}

}  // namespace
