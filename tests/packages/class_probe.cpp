// class_probe <class id> [<release file>]: creates the class through the COM runtime, as Explorer does, and prints
// which DLL the registration loaded and that DLL's file version:
//   server: C:\...\Pathlift.dll
//   version: a.b.c.d
// With a release file it keeps the object, and so the DLL, loaded until that file exists (two minutes at most): the
// package test holds the installed DLL this way while an upgrade runs.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length < sizeof(*info)) {
        return L"none";
    }
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: class_probe <class id> [<release file>]\n");
        return 2;
    }
    CLSID classId;
    if (FAILED(CLSIDFromString(argv[1], &classId))) {
        std::fprintf(stderr, "class_probe: not a class id\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IUnknown* object = nullptr;
    const HRESULT hr =
        CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance: 0x%08lx\n", static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    // The object's code lies in the server the registration named: the module that holds its interface table.
    HMODULE server = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           *reinterpret_cast<LPCWSTR*>(object), &server)) {
        GetModuleFileNameW(server, path, MAX_PATH);
    }
    std::printf("server: %s\nversion: %s\n", Utf8(path).c_str(), Utf8(FileVersion(path)).c_str());
    std::fflush(stdout);
    // Two minutes at most, so that a test that never releases it does not wait for ever.
    for (int wait = 0; argc > 2 && wait < 2400 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++wait) {
        Sleep(50);
    }
    object->Release();
    CoUninitialize();
    return 0;
}
