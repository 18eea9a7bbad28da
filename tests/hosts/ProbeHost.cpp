// A small ASIO host for end-to-end checks: finds a driver in HKLM\Software\ASIO as hosts do,
// creates it through COM, drives it with a window that answers the private message, and prints
// what the driver answers as "key: value" lines.
//
//   asio_probe_host [/reply N] [/driver NAME] [/setlanguage N] [/stream SECONDS] [/restart SECONDS] [/list]
//
// /restart: the first stream goes on until the driver asks for a reset, then the host does what
// hosts do (a fresh instance, init, createBuffers, start) and streams again. /list prints the
// system's active audio endpoints as the driver's "OtherDevices" names them.
#include <asio/Asio.h>

#include "../../driver/devices/DeviceIds.h"

#include <mmdeviceapi.h>
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
std::atomic<long> gResetRequests{0};

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
    case kAsioSelectorSupported: return value == kAsioOverload || value == kAsioResetRequest ? 1 : 0;
    case kAsioSupportsTimeInfo: ++gTimeInfoQueries; return 0;
    case kAsioOverload: ++gOverloads; return 1;
    case kAsioResetRequest: ++gResetRequests; return 1;
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

// Streaming check: every port (a pair of outputs) plays noise of its own that never repeats,
// every input is recorded, and the delay from its port's outputs is followed window by window by
// cross-correlation; every change of delay between windows is a slip (samples lost or repeated
// somewhere on the way). Another port's noise found on an input is a crossed route.
struct StreamCheck {
    IASIO* driver = nullptr;
    long inputs = 0, outputs = 0;
    std::vector<ASIOBufferInfo> buffers;  // the inputs, then the outputs
    long frames = 0;
    long sampleType = ASIOSTInt16LSB;
    volatile long switches = 0;
    std::vector<std::vector<float>> played;    // per port
    std::vector<std::vector<float>> recorded;  // per input
    std::vector<uint64_t> noise;               // per port; fixed seeds: every run plays the same
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

// Lags on either side of a window's peak that still count as its match.
constexpr size_t kSpreadLags = 4;

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
    std::vector<double> scores(lags + 1);
    size_t peak = 0;
    for (size_t k = 0; k <= lags; ++k) {
        if (k > 0) {
            const double out = played[start - lags + k - 1], in = played[start - lags + k + window - 1];
            playedEnergy += in * in - out * out;
        }
        scores[k] = playedEnergy > 0 ? p[k].real() / double(n) / std::sqrt(recordedEnergy * playedEnergy) : 0;
        if (scores[k] > scores[peak]) peak = k;
    }
    if (scores[peak] <= 0) return {};
    // A resampled path (a port on a clock of its own) carries the noise at a fractional delay that
    // wanders within the window: its correlation spreads over the lags next to the peak, whose sum
    // stays near 1; a path that is not resampled has it all at the peak.
    double spread = 0;
    for (size_t k = peak > kSpreadLags ? peak - kSpreadLags : 0; k <= std::min(lags, peak + kSpreadLags); ++k)
        spread += scores[k];
    return {spread >= 0.5, lags - peak, scores[peak]};
}

float SampleAt(const void* buffer, long i, long type)
{
    if (type == ASIOSTInt16LSB) return static_cast<const int16_t*>(buffer)[i] / 32768.0f;
    return static_cast<const int32_t*>(buffer)[i] / 2147483648.0f;
}

void WriteSample(void* buffer, long i, long type, int16_t value)
{
    if (type == ASIOSTInt16LSB)
        static_cast<int16_t*>(buffer)[i] = value;
    else
        static_cast<int32_t*>(buffer)[i] = int32_t(value) << 16;
}

void StreamSwitch(long index, ASIOBool)
{
    StreamCheck& s = gStream;
    for (long f = 0; f < s.frames; ++f) {
        for (size_t port = 0; port < s.played.size(); ++port) {
            const int16_t value = NextNoise(s.noise[port]);
            for (long o = 2 * long(port); o < std::min(2 * long(port) + 2, s.outputs); ++o)
                WriteSample(s.buffers[s.inputs + o].buffers[index], f, s.sampleType, value);
            if (s.played[port].size() < s.played[port].capacity()) s.played[port].push_back(value / 32768.0f);
        }
        for (long i = 0; i < s.inputs; ++i)
            if (s.recorded[i].size() < s.recorded[i].capacity())
                s.recorded[i].push_back(SampleAt(s.buffers[i].buffers[index], f, s.sampleType));
    }
    s.driver->outputReady();
    s.switches = s.switches + 1;
}

ASIOTime* StreamSwitchTimeInfo(ASIOTime* time, long index, ASIOBool direct)
{
    StreamSwitch(index, direct);
    return time;
}

struct Analysis {
    size_t windows = 0, found = 0, lateWindows = 0, lateFound = 0, slips = 0, lateSlips = 0;
    double worst = 1;
    WindowMatch first, last;
};

// Follows the delay in windows of 100 ms over the whole recording; slipLabel, when given,
// prefixes a line for each slip.
Analysis Analyse(const std::vector<float>& played, const std::vector<float>& recorded, const char* slipLabel)
{
    const size_t rate = 48000, window = rate / 10, maxLag = rate / 2;
    const size_t frames = std::min(played.size(), recorded.size());
    Analysis a;
    for (size_t start = 0; start + window <= frames; start += window, ++a.windows) {
        const bool late = start >= rate;
        a.lateWindows += late;
        const WindowMatch match = MatchWindow(played, recorded, start, window, maxLag);
        if (!match.found) continue;
        ++a.found;
        a.lateFound += late;
        a.worst = std::min(a.worst, match.score);
        if (!a.first.found) a.first = match;
        if (a.last.found && match.delay != a.last.delay) {
            ++a.slips;
            a.lateSlips += late;
            if (slipLabel)
                std::printf("%s slip: at %.1f s by %+lld\n", slipLabel, double(start) / rate,
                            static_cast<long long>(match.delay) - static_cast<long long>(a.last.delay));
        }
        a.last = match;
    }
    return a;
}

// Input 0 reports under "stream" alone, as it did when the host knew one port.
void ReportInput(long input, size_t ports)
{
    const StreamCheck& s = gStream;
    char label[32] = "stream";
    if (input > 0) std::snprintf(label, sizeof(label), "stream input %ld", input);
    const size_t port = size_t(input / 2);
    if (port >= ports) return;
    const Analysis a = Analyse(s.played[port], s.recorded[input], label);
    std::printf("%s windows: %zu found: %zu after first second: %zu found: %zu\n", label, a.windows, a.found,
                a.lateWindows, a.lateFound);
    if (a.first.found)
        std::printf("%s delay: first %zu last %zu worst correlation %.3f\n", label, a.first.delay, a.last.delay,
                    a.worst);
    std::printf("%s slips: %zu after first second: %zu overloads: %ld\n", label, a.slips, a.lateSlips,
                gOverloads.load());
    if (ports < 2) return;
    size_t foreign = 0;
    for (size_t other = 0; other < ports; ++other)
        if (other != port) foreign += Analyse(s.played[other], s.recorded[input], nullptr).found;
    std::printf("%s foreign windows: %zu\n", label, foreign);
}

int RunStreamCheck(IASIO* driver, double seconds, bool untilReset)
{
    StreamCheck& s = gStream;
    s = StreamCheck{};
    s.driver = driver;
    driver->setSampleRate(48000.0);
    long minSize = 0, maxSize = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &s.frames, &granularity);
    driver->getChannels(&s.inputs, &s.outputs);
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    driver->getChannelInfo(&info);
    s.sampleType = info.type;
    s.buffers.resize(size_t(s.inputs + s.outputs));
    for (long b = 0; b < s.inputs + s.outputs; ++b) {
        s.buffers[b].isInput = b < s.inputs ? ASIOTrue : ASIOFalse;
        s.buffers[b].channelNum = b < s.inputs ? b : b - s.inputs;
    }
    // Room for the wait for a reset request too.
    const size_t capacity = static_cast<size_t>(48000 * (seconds + (untilReset ? 10 : 0))) + 48000;
    const size_t ports = size_t(s.outputs + 1) / 2;
    s.played.resize(ports);
    s.noise.resize(ports);
    for (size_t port = 0; port < ports; ++port) {
        s.played[port].reserve(capacity);
        s.noise[port] = 0x9E3779B97F4A7C15ull + port * 0x632BE59BD9B4E019ull;
    }
    s.recorded.resize(size_t(s.inputs));
    for (auto& recording : s.recorded) recording.reserve(capacity);
    ASIOCallbacks callbacks = {StreamSwitch, SampleRateDidChange, AsioMessage, StreamSwitchTimeInfo};
    const ASIOError prepared = driver->createBuffers(s.buffers.data(), s.inputs + s.outputs, s.frames, &callbacks);
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
    std::printf("stream started\n");
    // The rate is measured after the first second, once the streams have settled.
    Sleep(1000);
    const long settled = s.switches;
    const DWORD begin = GetTickCount();
    Sleep(static_cast<DWORD>(seconds * 1000));
    driver->getLatencies(&inLatency, &outLatency);
    const long switches = s.switches - settled;
    const DWORD elapsed = GetTickCount() - begin;
    for (int wait = 0; untilReset && gResetRequests == 0 && wait < 100; ++wait) Sleep(100);
    driver->stop();
    driver->disposeBuffers();

    std::printf("stream frames: %ld\n", s.frames);
    std::printf("stream switches: %ld expected: %.0f\n", switches, elapsed / 1000.0 * 48000 / s.frames);
    std::printf("stream latencies: %ld %ld\n", inLatency, outLatency);
    for (long input = 0; input < s.inputs; ++input) ReportInput(input, ports);
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

std::string Utf8(const wchar_t* text)
{
    char narrow[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return narrow;
}

// "endpoint: FLOW ID NAME" for every active endpoint.
int ListEndpoints()
{
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDeviceCollection* endpoints = nullptr;
    UINT count = 0;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&enumerator))) ||
        FAILED(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, &endpoints)) ||
        FAILED(endpoints->GetCount(&count)))
        return Fail("endpoint enumeration", 0);
    for (UINT i = 0; i < count; ++i) {
        IMMDevice* device = nullptr;
        IMMEndpoint* endpoint = nullptr;
        IPropertyStore* store = nullptr;
        wchar_t* id = nullptr;
        EDataFlow flow = eAll;
        PROPVARIANT name;
        PropVariantInit(&name);
        if (SUCCEEDED(endpoints->Item(i, &device)) && SUCCEEDED(device->GetId(&id)) &&
            SUCCEEDED(device->QueryInterface(__uuidof(IMMEndpoint), reinterpret_cast<void**>(&endpoint))) &&
            SUCCEEDED(endpoint->GetDataFlow(&flow)) && SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store)) &&
            SUCCEEDED(store->GetValue(kPkeyDeviceFriendlyName, &name)) && name.vt == VT_LPWSTR)
            std::printf("endpoint: %s %s %s\n", flow == eCapture ? "capture" : "render", Utf8(id).c_str(),
                        Utf8(name.pwszVal).c_str());
        PropVariantClear(&name);
        CoTaskMemFree(id);
        if (store) store->Release();
        if (endpoint) endpoint->Release();
        if (device) device->Release();
    }
    endpoints->Release();
    enumerator->Release();
    return 0;
}

IASIO* OpenDriver(const CLSID& clsid, HWND window)
{
    IASIO* driver = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&driver));
    if (FAILED(hr) || !driver) return nullptr;
    std::printf("init: %ld\n", driver->init(window));
    return driver;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring driverName = L"Asio 2.0 Veloran Driver";
    int setLanguage = -1;
    double streamSeconds = 0, restartSeconds = 0;
    bool list = false;
    for (int i = 1; i < argc; i += 2) {
        if (!wcscmp(argv[i], L"/list")) {
            list = true;
            --i;
            continue;
        }
        if (i + 1 == argc) return Fail("argument without a value", i);
        if (!wcscmp(argv[i], L"/reply")) gReply = _wtoi(argv[i + 1]);
        else if (!wcscmp(argv[i], L"/driver")) driverName = argv[i + 1];
        else if (!wcscmp(argv[i], L"/setlanguage")) setLanguage = _wtoi(argv[i + 1]);
        else if (!wcscmp(argv[i], L"/stream")) streamSeconds = _wtof(argv[i + 1]);
        else if (!wcscmp(argv[i], L"/restart")) restartSeconds = _wtof(argv[i + 1]);
        else return Fail("unknown argument", i);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (list) {
        CoInitialize(nullptr);
        const int result = ListEndpoints();
        CoUninitialize();
        return result;
    }

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

    IASIO* driver = OpenDriver(clsid, window);
    if (!driver) return Fail("CoCreateInstance", 0);
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
        int result = RunStreamCheck(driver, streamSeconds, restartSeconds > 0);
        if (restartSeconds > 0) {
            driver->Release();
            std::printf("restart: reset requests %ld\n", gResetRequests.load());
            driver = OpenDriver(clsid, window);
            if (!driver) return Fail("CoCreateInstance", 0);
            driver->getChannels(&inputs, &outputs);
            std::printf("channels: %ld %ld\n", inputs, outputs);
            result |= RunStreamCheck(driver, restartSeconds, false);
            std::printf("reset requests: %ld\n", gResetRequests.load());
        }
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
