// The built driver driven as a host built by the common Windows compilers drives it. No driver
// header declares the calls: each goes through its slot of the object's table with that compiler's
// convention spelled out (at 32 bits thiscall for IASIO's own methods, stdcall for IUnknown's),
// and the host's callbacks are plain cdecl functions. A convention that differs on either side
// moves the stack or loses `this`, and the run below crashes or reads nonsense.
#include <asio/Asio.h>  // the structures only
#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

#if defined(_WIN64)
#define HOST_THISCALL
#else
#define HOST_THISCALL __attribute__((thiscall))
#endif

// Slots after IUnknown's three, in the interface's published order.
enum Slot : int {
    kRelease = 2,
    kInit,
    kGetDriverName,
    kGetDriverVersion,
    kGetErrorMessage,
    kStart,
    kStop,
    kGetChannels,
    kGetLatencies,
    kGetBufferSize,
    kCanSampleRate,
    kGetSampleRate,
    kSetSampleRate,
    kGetClockSources,
    kSetClockSource,
    kGetSamplePosition,
    kGetChannelInfo,
    kCreateBuffers,
    kDisposeBuffers,
    kControlPanel,
    kFuture,
    kOutputReady,
};

class ForeignDriver {
public:
    explicit ForeignDriver(void* object) : object_(object) {}

    template <typename Result, typename... Args>
    Result Call(Slot slot, Args... args) const
    {
        using Method = Result(HOST_THISCALL*)(void*, Args...);
        return reinterpret_cast<Method>(Table()[slot])(object_, args...);
    }

    ULONG Release() const
    {
        using Method = ULONG(__stdcall*)(void*);
        return reinterpret_cast<Method>(Table()[kRelease])(object_);
    }

private:
    void** Table() const { return *static_cast<void***>(object_); }
    void* object_;
};

// The host's side: its window answers the private message, its callbacks count and check.
UINT gPrivateMessage = 0;
std::atomic<long> gSwitches{0};
std::atomic<long> gBadIndices{0};
ForeignDriver* gDriver = nullptr;
std::atomic<long> gPositionsRead{0};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == gPrivateMessage) return 291;  // the default devices may take part
    return DefWindowProcW(window, message, wParam, lParam);
}

void __cdecl BufferSwitch(long index, long)
{
    if (index != 0 && index != 1) ++gBadIndices;
    ASIOSamples position = {};
    ASIOTimeStamp stamp = {};
    if (gDriver->Call<ASIOError>(kGetSamplePosition, &position, &stamp) == ASE_OK && position.lo + position.hi > 0)
        ++gPositionsRead;
    gDriver->Call<ASIOError>(kOutputReady);
    ++gSwitches;
}
void __cdecl SampleRateDidChange(double) {}
long __cdecl AsioMessage(long selector, long value, void*, double*)
{
    return selector == kAsioSelectorSupported && value == kAsioEngineVersion ? 1
           : selector == kAsioEngineVersion                                   ? 2
                                                                               : 0;
}
ASIOTime* __cdecl BufferSwitchTimeInfo(ASIOTime* params, long index, long direct)
{
    BufferSwitch(index, direct);
    return params;
}

void* CreateDriverObject(HMODULE module)
{
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    const auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return nullptr;
    IClassFactory* factory = nullptr;
    if (get(kVeloranDriverClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) return nullptr;
    void* object = nullptr;
    factory->CreateInstance(nullptr, kVeloranDriverClsid, &object);
    factory->Release();
    return object;
}

std::wstring BuiltDriverPath()
{
    std::wstring path;
    for (const wchar_t* c = VELORAN_BUILT_DRIVER; *c; ++c) path += *c == L'/' ? L'\\' : *c;
    return path;
}

void PumpFor(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(5);
    }
}

TEST(ForeignHost, EveryCallAndCallbackCrossesWithTheWindowsCompilersConventions)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    gPrivateMessage = RegisterWindowMessageW(L"KWTRB352");
    const WNDCLASSW windowClass = {0, HostWindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr,
                                   nullptr, L"ForeignHostWindow"};
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"ForeignHostWindow", L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);

    const HMODULE module = LoadLibraryW(BuiltDriverPath().c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    void* object = CreateDriverObject(module);
    ASSERT_NE(object, nullptr);
    ForeignDriver driver(object);
    gDriver = &driver;

    // init's one argument reaches the driver: it asks the window, which lets the default devices in.
    ASSERT_EQ(driver.Call<long>(kInit, static_cast<void*>(window)), ASIOTrue);
    char name[32] = {};
    driver.Call<void>(kGetDriverName, name);
    EXPECT_STREQ(name, "Asio 2.0 Veloran Driver");
    EXPECT_EQ(driver.Call<long>(kGetDriverVersion), 1900);
    char message[124];
    std::memset(message, 'x', sizeof(message));
    driver.Call<void>(kGetErrorMessage, message);
    EXPECT_NE(std::memchr(message, '\0', sizeof(message)), nullptr);

    long inputs = 0, outputs = 0;
    ASSERT_EQ(driver.Call<ASIOError>(kGetChannels, &inputs, &outputs), ASE_OK);
    ASSERT_GE(inputs, 2);
    ASSERT_GE(outputs, 2);
    long minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver.Call<ASIOError>(kGetBufferSize, &minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_LE(minimum, preferred);
    EXPECT_LE(preferred, maximum);
    // A double on the stack: the callee must pop exactly eight bytes.
    EXPECT_EQ(driver.Call<ASIOError>(kCanSampleRate, 48000.0), ASE_OK);
    EXPECT_EQ(driver.Call<ASIOError>(kCanSampleRate, 1.0e6), ASE_NoClock);
    ASSERT_EQ(driver.Call<ASIOError>(kSetSampleRate, 48000.0), ASE_OK);
    double rate = 0;
    ASSERT_EQ(driver.Call<ASIOError>(kGetSampleRate, &rate), ASE_OK);
    EXPECT_EQ(rate, 48000.0);
    ASIOClockSource clocks[4] = {};
    long clockCount = 4;
    EXPECT_EQ(driver.Call<ASIOError>(kGetClockSources, clocks, &clockCount), ASE_OK);
    EXPECT_GE(clockCount, 1);
    EXPECT_EQ(driver.Call<ASIOError>(kSetClockSource, 0L), ASE_OK);

    ASIOChannelInfo channel = {};
    channel.channel = outputs - 1;
    channel.isInput = ASIOFalse;
    ASSERT_EQ(driver.Call<ASIOError>(kGetChannelInfo, &channel), ASE_OK);
    EXPECT_EQ(channel.type, ASIOSTInt32LSB);
    EXPECT_NE(channel.name[0], '\0');

    ASIOBufferInfo buffers[4] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks = {BufferSwitch, SampleRateDidChange, AsioMessage, BufferSwitchTimeInfo};
    ASSERT_EQ(driver.Call<ASIOError>(kCreateBuffers, buffers, 4L, preferred, &callbacks), ASE_OK);
    for (const ASIOBufferInfo& info : buffers) EXPECT_TRUE(info.buffers[0] && info.buffers[1]);
    long inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver.Call<ASIOError>(kGetLatencies, &inputLatency, &outputLatency), ASE_OK);
    EXPECT_GT(inputLatency, 0);
    EXPECT_GT(outputLatency, 0);
    EXPECT_EQ(driver.Call<ASIOError>(kFuture, 0x7fff0000L, static_cast<void*>(nullptr)), ASE_NotPresent);

    ASSERT_EQ(driver.Call<ASIOError>(kStart), ASE_OK);
    // The bound only keeps a fault from hanging the run.
    for (int waited = 0; waited < 600 && gSwitches < 20; ++waited) PumpFor(50);
    EXPECT_EQ(driver.Call<ASIOError>(kStop), ASE_OK);
    EXPECT_GE(gSwitches.load(), 20) << "the host's callback was not called";
    EXPECT_EQ(gBadIndices.load(), 0);
    EXPECT_GT(gPositionsRead.load(), 0) << "the position read inside the callback never moved";

    EXPECT_EQ(driver.Call<ASIOError>(kDisposeBuffers), ASE_OK);
    driver.Release();
    gDriver = nullptr;
    DestroyWindow(window);
    CoUninitialize();
}

}  // namespace
