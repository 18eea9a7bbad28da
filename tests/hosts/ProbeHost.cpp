// A small ASIO host for end-to-end checks: finds a driver in HKLM\Software\ASIO as hosts do,
// creates it through COM, drives it with a window that answers the private message, and prints
// what the driver answers as "key: value" lines.
//
//   asio_probe_host [/reply N] [/driver NAME] [/setlanguage N] [/stream SECONDS]
#include <asio/Asio.h>

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
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
std::atomic<long> gOverloads{0};  // the driver's own count of lost or late blocks, one message each

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
long AsioMessage(long selector, long value, void*, double*)
{
    switch (selector) {
    case kAsioSelectorSupported: return value == kAsioOverload ? 1 : 0;
    case kAsioSupportsTimeInfo: ++gTimeInfoQueries; return 0;
    case kAsioOverload: ++gOverloads; return 1;
    default: return 0;
    }
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

// Streaming check: the outputs play noise that never repeats, the inputs are recorded, and the
// delay of the loopback is followed window by window by cross-correlation; every change of delay
// between windows is a slip (samples lost or repeated somewhere on the way).
struct StreamCheck {
    IASIO* driver = nullptr;
    ASIOBufferInfo buffers[4] = {};
    long frames = 0;
    long sampleType = ASIOSTInt16LSB;
    volatile long switches = 0;
    std::vector<float> played, recorded;
    uint64_t noise = 0x9E3779B97F4A7C15ull;  // fixed seed: every run plays the same sequence
} gStream;

// xorshift64*: its period is far beyond any run, so a window's match is unambiguous.
int16_t NextNoise(uint64_t& state)
{
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const uint64_t value = state * 0x2545F4914F6CDD1Dull;
    return static_cast<int16_t>(static_cast<int>(value >> 50) - 0x2000);  // a quarter of full scale
}

using Spectrum = std::vector<std::complex<double>>;

// In place, size a power of two; inverse without the 1/n scale.
void Fft(Spectrum& a, bool inverse)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    const double pi = std::acos(-1.0);
    for (size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, (inverse ? 2 : -2) * pi / double(length));
        for (size_t i = 0; i < n; i += length) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < length / 2; ++k, w *= step) {
                const std::complex<double> u = a[i + k], v = a[i + k + length / 2] * w;
                a[i + k] = u + v;
                a[i + k + length / 2] = u - v;
            }
        }
    }
}

struct WindowMatch {
    bool found = false;
    size_t delay = 0;
    double score = 0;
};

// The delay (0 to maxLag frames) at which recorded[start, start + window) best matches what was
// played, by normalised cross-correlation.
WindowMatch MatchWindow(const std::vector<float>& played, const std::vector<float>& recorded, size_t start,
                        size_t window, size_t maxLag)
{
    const size_t lags = std::min(start, maxLag);
    const size_t span = lags + window;
    size_t n = 1;
    while (n < span) n <<= 1;
    Spectrum p(n), r(n);
    double recordedEnergy = 0;
    for (size_t i = 0; i < window; ++i) {
        r[i] = recorded[start + i];
        recordedEnergy += double(recorded[start + i]) * recorded[start + i];
    }
    for (size_t i = 0; i < span; ++i) p[i] = played[start - lags + i];
    if (recordedEnergy <= 0) return {};
    Fft(p, false);
    Fft(r, false);
    for (size_t i = 0; i < n; ++i) p[i] *= std::conj(r[i]);
    Fft(p, true);

    // Energy of each played stretch, sliding.
    double playedEnergy = 0;
    for (size_t i = 0; i < window; ++i) playedEnergy += double(played[start - lags + i]) * played[start - lags + i];
    WindowMatch best;
    for (size_t k = 0; k <= lags; ++k) {
        if (k > 0) {
            const double out = played[start - lags + k - 1], in = played[start - lags + k + window - 1];
            playedEnergy += in * in - out * out;
        }
        const double score = playedEnergy > 0 ? p[k].real() / double(n) / std::sqrt(recordedEnergy * playedEnergy) : 0;
        if (score > best.score) best = {true, lags - k, score};
    }
    best.found = best.score >= 0.5;
    return best;
}

float SampleAt(const void* buffer, long i, long type)
{
    if (type == ASIOSTInt16LSB) return static_cast<const int16_t*>(buffer)[i] / 32768.0f;
    return static_cast<const int32_t*>(buffer)[i] / 2147483648.0f;
}

void StreamSwitch(long index, ASIOBool)
{
    StreamCheck& s = gStream;
    for (long f = 0; f < s.frames; ++f) {
        const int16_t value = NextNoise(s.noise);
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
    const ASIOError prepared = driver->createBuffers(s.buffers, 4, s.frames, &callbacks);
    if (prepared != ASE_OK) {
        char message[124] = {};
        driver->getErrorMessage(message);
        std::printf("createBuffers failed: %s\n", message);
        return Fail("createBuffers", prepared);
    }
    // What hosts read before start, to place recordings: the streams must then bring no surprise.
    long inLatency = 0, outLatency = 0;
    driver->getLatencies(&inLatency, &outLatency);
    std::printf("stream latencies before start: %ld %ld\n", inLatency, outLatency);
    const ASIOError started = driver->start();
    if (started != ASE_OK) {
        char message[124] = {};
        driver->getErrorMessage(message);
        std::printf("start failed: %s\n", message);
        driver->disposeBuffers();
        return Fail("start", started);
    }
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

    // Follow the delay in windows of 100 ms over the whole recording.
    const size_t rate = 48000, window = rate / 10, maxLag = rate / 2;
    const size_t frames = std::min(s.played.size(), s.recorded.size());
    size_t windows = 0, found = 0, lateWindows = 0, lateFound = 0, slips = 0, lateSlips = 0;
    double worst = 1;
    WindowMatch previous, first;
    for (size_t start = 0; start + window <= frames; start += window, ++windows) {
        const bool late = start >= rate;
        lateWindows += late;
        const WindowMatch match = MatchWindow(s.played, s.recorded, start, window, maxLag);
        if (!match.found) continue;
        ++found;
        lateFound += late;
        worst = std::min(worst, match.score);
        if (!first.found) first = match;
        if (previous.found && match.delay != previous.delay) {
            ++slips;
            lateSlips += late;
            std::printf("stream slip: at %.1f s by %+lld\n", double(start) / rate,
                        static_cast<long long>(match.delay) - static_cast<long long>(previous.delay));
        }
        previous = match;
    }
    std::printf("stream frames: %ld\n", s.frames);
    std::printf("stream switches: %ld expected: %.0f\n", switches, elapsed / 1000.0 * 48000 / s.frames);
    std::printf("stream latencies: %ld %ld\n", inLatency, outLatency);
    std::printf("stream windows: %zu found: %zu after first second: %zu found: %zu\n", windows, found, lateWindows,
                lateFound);
    if (first.found)
        std::printf("stream delay: first %zu last %zu worst correlation %.3f\n", first.delay, previous.delay, worst);
    std::printf("stream slips: %zu after first second: %zu overloads: %ld\n", slips, lateSlips, gOverloads.load());
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
