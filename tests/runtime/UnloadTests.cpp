// The built DLL loaded and unloaded as COM does for a host that lets it go (DllCanUnloadNow, then
// FreeLibrary), a few hundred times: every load must give back the handles and the heap it took.
#include <asio/Asio.h>
#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kWarmUpLoads = 10;
constexpr int kLoads = 300;
// What Wine keeps per load and unload of a DLL: 232 bytes for an empty one, under 450 for the
// driver. The C++ runtime's exception pool alone, left behind, would be 74,752.
constexpr long long kWineBytesPerLoad = 1024;

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

std::wstring DriverPath()
{
    std::wstring path;
    for (const wchar_t* c = VELORAN_BUILT_DRIVER; *c; ++c) path += *c == L'/' ? L'\\' : *c;
    return path;
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

struct Usage {
    long long handles = 0;
    long long heapBytes = 0;
};

// Handles open in the process (Wine answers GetProcessHandleCount with 0: every value is asked
// about instead), and bytes in use in all its heaps (the C runtime's among them).
Usage Measure()
{
    Usage usage;
    for (uintptr_t value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        usage.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) usage.heapBytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return usage;
}

// A host has the system DLLs that the driver imports loaded already: those stay, so that what
// Wine's own DLLs keep per load of theirs is not counted against the driver.
void LoadImportsOf(const std::wstring& path)
{
    const HMODULE image = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr) << "cannot map " << GetLastError();
    const auto* base = reinterpret_cast<const BYTE*>(image);
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry)
        EXPECT_NE(LoadLibraryA(reinterpret_cast<const char*>(base + entry->Name)), nullptr);
    FreeLibrary(image);
}

// One host's use: the class object, a driver made, initialised and released, the DLL let go.
void LoadUseAndUnload(const std::wstring& path)
{
    const HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr) << "cannot load " << GetLastError();
    const auto getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    const auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject && canUnloadNow);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kVeloranDriverClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IASIO* driver = nullptr;
    const HRESULT made = factory->CreateInstance(nullptr, kVeloranDriverClsid, reinterpret_cast<void**>(&driver));
    factory->Release();
    ASSERT_EQ(made, S_OK);
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    driver->Release();
    // The callback window goes on this thread's messages.
    // The bounds only keep a fault from hanging the run: a loaded machine may need seconds.
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (canUnloadNow() != S_OK && GetTickCount64() < deadline) {
        Pump();
        Sleep(1);
    }
    ASSERT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(module);
    // A worker that still holds the module (the update check) lets it go when it ends.
    while (GetModuleHandleW(path.c_str()) && GetTickCount64() < deadline + 30000) Sleep(1);
    ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the DLL stayed loaded";
}

TEST(DllUnload, EveryLoadGivesBackItsHandlesAndHeap)
{
    // A host's thread keeps its apartment across loads of the driver.
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::wstring path = DriverPath();
    ASSERT_NO_FATAL_FAILURE(LoadImportsOf(path));
    for (int i = 0; i < kWarmUpLoads; ++i) ASSERT_NO_FATAL_FAILURE(LoadUseAndUnload(path));
    const Usage before = Measure();
    for (int i = 0; i < kLoads; ++i) ASSERT_NO_FATAL_FAILURE(LoadUseAndUnload(path));
    const Usage after = Measure();
    CoUninitialize();

    const long long handles = after.handles - before.handles;
    const long long bytes = after.heapBytes - before.heapBytes;
    std::printf("%d loads: %lld handles and %lld heap bytes left (%.1f bytes per load)\n", kLoads, handles, bytes,
                double(bytes) / kLoads);
    EXPECT_LT(handles, kLoads / 10) << "a handle left per load";
    EXPECT_LT(bytes, kWineBytesPerLoad * kLoads) << "heap left per load";
}

}  // namespace
