// A small ASIO host for end-to-end checks: finds a driver in HKLM\Software\ASIO as hosts do,
// creates it through COM, drives it with a window that answers the private message, and prints
// what the driver answers as "key: value" lines.
//
//   asio_probe_host [/reply N] [/driver NAME] [/setlanguage N] [/stream SECONDS]
#include <asio/Asio.h>

#include <objbase.h>
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

LRESULT gReply = 291;
UINT gPrivateMessage = 0;
int gPrivateMessagesSeen = 0;
long gTimeInfoQueries = 0;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == gPrivateMessage && gPrivateMessage != 0) {
        ++gPrivateMessagesSeen;
        return gReply;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void BufferSwitch(long, ASIOBool) {}
void SampleRateDidChange(ASIOSampleRate) {}
long AsioMessage(long selector, long, void*, double*)
{
    if (selector == kAsioSupportsTimeInfo) ++gTimeInfoQueries;
    return 0;
}
ASIOTime* BufferSwitchTimeInfo(ASIOTime* params, long, ASIOBool) { return params; }

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t value[512] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
    return value;
}

int Fail(const char* what, long code);

// Streaming check: the outputs play a noise sequence, the inputs are recorded, and the delay of
// the loopback is found by cross-correlation.
struct StreamCheck {
    IASIO* driver = nullptr;
    ASIOBufferInfo buffers[4] = {};
    long frames = 0;
    long sampleType = ASIOSTInt16LSB;
    volatile long switches = 0;
    std::vector<float> played, recorded;
    uint32_t noise = 12345;
} gStream;

float SampleAt(const void* buffer, long i, long type)
{
    if (type == ASIOSTInt16LSB) return static_cast<const int16_t*>(buffer)[i] / 32768.0f;
    return static_cast<const int32_t*>(buffer)[i] / 2147483648.0f;
}

void StreamSwitch(long index, ASIOBool)
{
    StreamCheck& s = gStream;
    for (long f = 0; f < s.frames; ++f) {
        s.noise = s.noise * 1664525u + 1013904223u;
        const int16_t value = static_cast<int16_t>((s.noise >> 16) & 0x3fff) - 0x2000;
        for (int b = 2; b < 4; ++b) {
            if (s.sampleType == ASIOSTInt16LSB)
                static_cast<int16_t*>(s.buffers[b].buffers[index])[f] = value;
            else
                static_cast<int32_t*>(s.buffers[b].buffers[index])[f] = int32_t(value) << 16;
        }
        if (s.played.size() < s.played.capacity()) s.played.push_back(value / 32768.0f);
        if (s.recorded.size() < s.recorded.capacity())
            s.recorded.push_back(SampleAt(s.buffers[0].buffers[index], f, s.sampleType));
    }
    s.driver->outputReady();
    s.switches = s.switches + 1;
}

ASIOTime* StreamSwitchTimeInfo(ASIOTime* time, long index, ASIOBool direct)
{
    StreamSwitch(index, direct);
    return time;
}

int RunStreamCheck(IASIO* driver, double seconds)
{
    StreamCheck& s = gStream;
    s.driver = driver;
    driver->setSampleRate(48000.0);
    long minSize = 0, maxSize = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &s.frames, &granularity);
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    driver->getChannelInfo(&info);
    s.sampleType = info.type;
    for (int b = 0; b < 4; ++b) {
        s.buffers[b].isInput = b < 2 ? ASIOTrue : ASIOFalse;
        s.buffers[b].channelNum = b % 2;
    }
    const size_t capacity = static_cast<size_t>(48000 * seconds) + 48000;
    s.played.reserve(capacity);
    s.recorded.reserve(capacity);
    ASIOCallbacks callbacks = {StreamSwitch, SampleRateDidChange, AsioMessage, StreamSwitchTimeInfo};
    if (driver->createBuffers(s.buffers, 4, s.frames, &callbacks) != ASE_OK) return Fail("createBuffers", 0);
    long inLatency = 0, outLatency = 0;
    if (driver->start() != ASE_OK) return Fail("start", 0);
    // The rate is measured after the first second, once the streams have settled.
    Sleep(1000);
    const long settled = s.switches;
    const DWORD begin = GetTickCount();
    Sleep(static_cast<DWORD>(seconds * 1000));
    driver->getLatencies(&inLatency, &outLatency);
    const long switches = s.switches - settled;
    const DWORD elapsed = GetTickCount() - begin;
    driver->stop();
    driver->disposeBuffers();

    // Correlate a window of what was played against everything recorded after it.
    const size_t window = 4096, start = 48000 / 2, maxLag = 48000 / 2;
    double best = 0;
    size_t bestLag = 0;
    double playedEnergy = 0;
    for (size_t i = 0; i < window && start + i < s.played.size(); ++i)
        playedEnergy += double(s.played[start + i]) * s.played[start + i];
    for (size_t lag = 0; lag < maxLag && start + lag + window < s.recorded.size(); ++lag) {
        double sum = 0, energy = 0;
        for (size_t i = 0; i < window; ++i) {
            const double r = s.recorded[start + lag + i];
            sum += double(s.played[start + i]) * r;
            energy += r * r;
        }
        const double score = energy > 0 ? sum / std::sqrt(energy * playedEnergy) : 0;
        if (score > best) {
            best = score;
            bestLag = lag;
        }
    }
    std::printf("stream frames: %ld\n", s.frames);
    std::printf("stream switches: %ld expected: %.0f\n", switches, elapsed / 1000.0 * 48000 / s.frames);
    std::printf("stream latencies: %ld %ld\n", inLatency, outLatency);
    std::printf("stream correlation: %.3f delay: %zu\n", best, bestLag);
    return 0;
}

int Fail(const char* what, long code)
{
    std::printf("error: %s (%ld)\n", what, code);
    return 1;
}

void PrintProductVersion(const std::wstring& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::string version = "?";
    if (size) {
        std::string data(size, '\0');
        wchar_t* text = nullptr;
        UINT length = 0;
        if (GetFileVersionInfoW(path.c_str(), 0, size, data.data()) &&
            VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                           reinterpret_cast<void**>(&text), &length) && text) {
            char narrow[64] = {};
            WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
            version = narrow;
        }
    }
    std::printf("product version: %s\n", version.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring driverName = L"Asio 2.0 Veloran Driver";
    int setLanguage = -1;
    double streamSeconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!wcscmp(argv[i], L"/reply")) gReply = _wtoi(argv[i + 1]);
        else if (!wcscmp(argv[i], L"/driver")) driverName = argv[i + 1];
        else if (!wcscmp(argv[i], L"/setlanguage")) setLanguage = _wtoi(argv[i + 1]);
        else if (!wcscmp(argv[i], L"/stream")) streamSeconds = _wtof(argv[i + 1]);
        else return Fail("unknown argument", i);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    const std::wstring asioKey = L"Software\\ASIO\\" + driverName;
    const std::wstring clsidText = ReadString(HKEY_LOCAL_MACHINE, asioKey, L"CLSID");
    if (clsidText.empty()) return Fail("driver not in the ASIO list", 0);
    CLSID clsid;
    if (FAILED(CLSIDFromString(clsidText.c_str(), &clsid))) return Fail("bad CLSID text", 0);
    const std::wstring serverPath = ReadString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsidText + L"\\InprocServer32", nullptr);
    PrintProductVersion(serverPath);

    if (setLanguage >= 0) {
        HMODULE module = LoadLibraryW(serverPath.c_str());
        using SetLanguageFn = int32_t (*)(int32_t);
        auto fn = module ? reinterpret_cast<SetLanguageFn>(reinterpret_cast<void*>(GetProcAddress(module, "SetLanguage"))) : nullptr;
        if (!fn) return Fail("SetLanguage not exported", 0);
        std::printf("SetLanguage: %d\n", fn(setLanguage));
        FreeLibrary(module);
        return 0;
    }

    CoInitialize(nullptr);
    gPrivateMessage = RegisterWindowMessageW(L"KWTRB352");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VeloranProbeHost";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);

    IASIO* driver = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&driver));
    if (FAILED(hr) || !driver) return Fail("CoCreateInstance", hr);

    std::printf("init: %ld\n", driver->init(window));
    std::printf("private messages: %d\n", gPrivateMessagesSeen);
    char name[32] = {};
    driver->getDriverName(name);
    std::printf("name: %s\n", name);
    std::printf("version: %ld\n", driver->getDriverVersion());
    char message[124] = {};
    driver->getErrorMessage(message);
    std::printf("error message: %s\n", message);

    long inputs = -1, outputs = -1;
    driver->getChannels(&inputs, &outputs);
    std::printf("channels: %ld %ld\n", inputs, outputs);
    for (long i = 0; i < inputs + outputs; ++i) {
        ASIOChannelInfo info = {};
        info.isInput = i < inputs;
        info.channel = i < inputs ? i : i - inputs;
        const ASIOError answer = driver->getChannelInfo(&info);
        std::printf("%s %ld: %ld %ld %s\n", info.isInput ? "input" : "output", info.channel, answer, info.type,
                    info.name);
    }
    long minSize = 0, maxSize = 0, preferred = 0, granularity = -1;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    std::printf("buffer size: %ld %ld %ld %ld\n", minSize, maxSize, preferred, granularity);
    ASIOSampleRate rate = 0;
    driver->getSampleRate(&rate);
    std::printf("sample rate: %.0f\n", rate);
    std::printf("can 44100 48000 96000: %ld %ld %ld\n", driver->canSampleRate(44100.0), driver->canSampleRate(48000.0),
                driver->canSampleRate(96000.0));
    ASIOClockSource clock = {};
    long clockCount = 1;
    driver->getClockSources(&clock, &clockCount);
    std::printf("clock: %ld %s\n", clockCount, clock.name);

    wchar_t hardware[121] = {};
    const ASIOError query = driver->createBuffers(reinterpret_cast<ASIOBufferInfo*>(hardware), 12345, 12345, nullptr);
    char hardwareUtf8[400] = {};
    WideCharToMultiByte(CP_UTF8, 0, hardware, -1, hardwareUtf8, sizeof(hardwareUtf8), nullptr, nullptr);
    std::printf("hardware: %ld %s\n", query, hardwareUtf8);

    if (streamSeconds > 0) {
        const int result = RunStreamCheck(driver, streamSeconds);
        driver->Release();
        DestroyWindow(window);
        CoUninitialize();
        return result;
    }

    ASIOCallbacks callbacks = {BufferSwitch, SampleRateDidChange, AsioMessage, BufferSwitchTimeInfo};
    std::printf("createBuffers: %ld\n", driver->createBuffers(nullptr, 0, preferred, &callbacks));
    std::printf("time info queries: %ld\n", gTimeInfoQueries);
    std::printf("start: %ld\n", driver->start());
    std::printf("stop: %ld\n", driver->stop());
    std::printf("disposeBuffers: %ld\n", driver->disposeBuffers());
    std::printf("release: %lu\n", driver->Release());

    DestroyWindow(window);
    CoUninitialize();
    std::printf("done\n");
    return 0;
}
