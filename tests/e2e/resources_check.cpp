// The program's own resources, read back the way the system reads them: the version strings, the run level the
// loader finds in the manifest, and the icon group.
#include "harness.hpp"
#include "version.h"

namespace e2e {
namespace {

const std::wstring program = updater();

TEST(Resources, VersionStrings) {
    std::vector<char> block(::GetFileVersionInfoSizeW(program.c_str(), nullptr));
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

TEST(Resources, ManifestRunsAsInvoker) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    const HANDLE context = ::CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE);
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    ::QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, nullptr);
    ::ReleaseActCtx(context);
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);
}

// For each size the system picks from the group an image of that very width (in its bitmap header or PNG header).
TEST(Resources, IconGroupOfFourSizes) {
    const tevra::win::UniqueModule module(
        ::LoadLibraryExW(program.c_str(), {}, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    const auto resource = [&](const wchar_t* name, const wchar_t* type) {
        const HRSRC found = ::FindResourceW(module.get(), name, type);
        return found ? static_cast<BYTE*>(::LockResource(::LoadResource(module.get(), found))) : nullptr;
    };
    BYTE* group = resource(L"IDI_ICON1", RT_GROUP_ICON);
    ASSERT_TRUE(group);
    for (const int side : {16, 32, 48, 256}) {
        const BYTE* image =
            resource(MAKEINTRESOURCEW(::LookupIconIdFromDirectoryEx(group, TRUE, side, side, 0)), RT_ICON);
        ASSERT_TRUE(image) << side;
        EXPECT_EQ(image[0] == 0x89 ? image[18] * 256 + image[19] : image[4] + 256 * image[5], side);
    }
}

}  // namespace
}  // namespace e2e
