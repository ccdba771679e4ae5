// The program's own resources, read back the way the system reads them: the version strings, the manifest as the
// loader parses it, and the icon group.
#include "harness.hpp"
#include "version.h"

#include <cstring>
#include <set>

namespace e2e {
namespace {

const std::wstring program = build_dir() / L"TevraRemoteUpdater.exe";
struct ActCtx {
    using Handle = HANDLE;
    static void close(HANDLE context) { ::ReleaseActCtx(context); }
};

TEST(Resources, VersionStrings) {
    DWORD ignored = 0;
    std::vector<char> block(::GetFileVersionInfoSizeW(program.c_str(), &ignored));
    ASSERT_TRUE(!block.empty() && ::GetFileVersionInfoW(program.c_str(), 0, DWORD(block.size()), block.data()));
    const wchar_t* strings[][2] = {
        {L"FileVersion", L"" TEVRA_FILE_VERSION}, {L"ProductVersion", L"" TEVRA_PRODUCT_VERSION},
        {L"ProductName", L"Tevra Remote"},        {L"FileDescription", L"Tevra Remote Updater"},
        {L"InternalName", L"TevraRemoteUpdater"}, {L"OriginalFilename", L"TevraRemoteUpdater.exe"}};
    for (const auto& [name, expected] : strings) {
        void* value = nullptr;
        UINT size = 0;
        ::VerQueryValueW(block.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(), &value, &size);
        EXPECT_EQ(std::wstring(value ? static_cast<const wchar_t*>(value) : L"(none)"), expected);
    }
}

TEST(Resources, Manifest) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    const tevra::win::UniqueHandle<ActCtx> context(::CreateActCtxW(&request));
    ASSERT_TRUE(context);
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    ::QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext, &level, sizeof level, nullptr);
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);
    DWORD index = 1;  // the application's own assembly
    alignas(8) char buffer[4096] = {};
    ::QueryActCtxW(0, context.get(), &index, AssemblyDetailedInformationInActivationContext, buffer, sizeof buffer,
                   nullptr);
    const wchar_t* identity =
        reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer)->lpAssemblyEncodedAssemblyIdentity;
    EXPECT_TRUE(identity && std::wstring(identity).starts_with(L"TevraRemote,") &&
                std::wstring(identity).contains(L"version=\"1.0.0.0\""));
    // Each setting is looked up under its own namespace, as the system looks for it.
    const wchar_t* settings[][3] = {
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"},
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2"}};
    for (const auto& [space, name, expected] : settings) {
        wchar_t text[64] = {};
        ::QueryActCtxSettingsW(0, context.get(), space, name, text, 64, nullptr);
        EXPECT_EQ(std::wstring(text), expected);
    }
}

// The group's entries, each with its image of the size it claims (an icon image starts with its header: a PNG
// signature, or a bitmap header whose height covers the image and its mask).
TEST(Resources, IconGroupOfFourSizes) {
    const tevra::win::UniqueModule library(
        ::LoadLibraryExW(program.c_str(), {}, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    HMODULE module = library.get();
    HRSRC group = module ? ::FindResourceW(module, L"IDI_ICON1", RT_GROUP_ICON) : nullptr;
    ASSERT_NE(group, nullptr);
    const auto* directory = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
    std::set<int> sizes;
    for (int i = 0; i < directory[4] + 256 * directory[5]; ++i) {
        const BYTE* entry = directory + 6 + 14 * i;  // width, height, colours, reserved, planes, bits, bytes, id
        HRSRC image = ::FindResourceW(module, MAKEINTRESOURCEW(entry[12] + 256 * entry[13]), RT_ICON);
        const auto* bits = image ? static_cast<const BYTE*>(::LockResource(::LoadResource(module, image))) : nullptr;
        const int side = entry[0] == 0 ? 256 : entry[0];
        const bool png = bits && std::memcmp(bits, "\x89PNG", 4) == 0;
        if (bits && (png || (bits[4] + 256 * bits[5] == side && bits[8] + 256 * bits[9] == 2 * side)))
            sizes.insert(side);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
}

}  // namespace
}  // namespace e2e
