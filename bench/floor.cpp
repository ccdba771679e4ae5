// The floor of the whole-process benchmark: a Windows program that does nothing, built with the
// same toolchain and flags as the updater (-Os, -static, -municode, stripped, gc-sections). What
// it costs to start and end is what any program costs under the same system.
int wmain(int /*argc*/, wchar_t** /*argv*/) { return 0; }
