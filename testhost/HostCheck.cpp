#include "HostCheck.h"

#include "QuilletDlg.h"
#include "RecordingFiles.h"
#include "StandardStreams.h"
#include "TestEngine.h"

#include <veloran/UniqueHandle.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT_PTR kCheckTimer = 0x4C48;
constexpr UINT kPollMs = 50;
// How long the driver may take to deliver its first buffer switch.
constexpr ULONGLONG kFirstSwitchWaitMs = 5000;

// The driver's ANSI name, through the system code page.
std::wstring FromAnsi(const std::string& text)
{
    const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(units, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), wide.data(), units);
    return wide;
}

// What the run saw, taken while the driver was still streaming.
struct CheckFindings {
    bool loaded = false;
    bool playing = false;
    bool recording = false;
    std::string driverName;
    long driverVersion = 0;
    std::wstring hardware;
    double sampleRate = 0;
    long bufferSize = 0;
    long inputLatency = 0;
    long outputLatency = 0;
    long long blocks = 0;
    ULONGLONG elapsedMs = 0;
    std::vector<std::pair<std::wstring, int>> inputs;   // name, peak
    std::vector<std::wstring> outputs;
    std::wstring recordedFile;
};

class CHostCheck {
public:
    CHostCheck(CQuilletDlg& dialog, const StartupOptions& options) : dialog_(dialog), options_(options) {}

    int Run()
    {
        active_ = this;
        dialog_.SetHidden(true);
        dialog_.SetStartedHandler([this] { Begin(); });
        dialog_.DoModal();
        active_ = nullptr;
        const bool streamed = Streamed();
        return WriteReport(streamed) && streamed ? 0 : 1;
    }

private:
    // Once the dialog has loaded and started the driver: play the demonstration audio to every
    // output and record every input into one stereo file.
    void Begin()
    {
        CAsioHost& host = dialog_.Host();
        found_.loaded = host.Loaded();
        found_.hardware = dialog_.HardwareText();
        if (IASIO* driver = host.Driver()) {
            char name[64] = {};
            driver->getDriverName(name);
            found_.driverName = name;
            found_.driverVersion = driver->getDriverVersion();
            driver->getSampleRate(&found_.sampleRate);
        }
        found_.bufferSize = host.Buffers().bufferSize;
        dialog_.SelectRecordMode(RecordMode::StereoMix);
        dialog_.SelectPlaySource(kPlaySourceInternal);
        dialog_.Engine().ResetStatistics();
        found_.playing = dialog_.SetPlaying(true);
        found_.recording = dialog_.SetRecording(true);
        beginTick_ = GetTickCount64();
        SetTimer(dialog_.hwnd(), kCheckTimer, kPollMs, &CHostCheck::OnTimer);
    }

    static void CALLBACK OnTimer(HWND window, UINT, UINT_PTR, DWORD)
    {
        if (active_) active_->Poll(window);
    }

    // The time runs from the first buffer switch: starting the streams may take a while.
    void Poll(HWND window)
    {
        const ULONGLONG now = GetTickCount64();
        if (startTick_ == 0 && dialog_.Engine().BlocksProcessed() > 0) {
            startTick_ = now;
            dialog_.Engine().ResetStatistics();
        }
        const bool done = startTick_ != 0 ? now - startTick_ >= ULONGLONG(options_.checkSeconds) * 1000u
                                          : now - beginTick_ >= kFirstSwitchWaitMs;
        if (!done) return;
        KillTimer(window, kCheckTimer);
        End();
    }

    void End()
    {
        CTestEngine& engine = dialog_.Engine();
        found_.blocks = engine.BlocksProcessed();
        found_.elapsedMs = startTick_ != 0 ? GetTickCount64() - startTick_ : 0;
        const CAsioHost& host = dialog_.Host();
        // Measured by now: the streams have run.
        if (IASIO* driver = host.Driver()) driver->getLatencies(&found_.inputLatency, &found_.outputLatency);
        for (int i = 0; i < host.InputCount(); ++i) found_.inputs.emplace_back(host.Input(i).displayName, engine.InputPeak(i));
        for (int j = 0; j < host.OutputCount(); ++j) found_.outputs.push_back(host.Output(j).displayName);
        dialog_.SetRecording(false);
        dialog_.SetPlaying(false);
        if (!engine.RecordedFiles().empty()) found_.recordedFile = engine.RecordedFiles().front();
        PostMessageW(dialog_.hwnd(), WM_COMMAND, IDCANCEL, 0);
    }

    long long ExpectedBlocks() const
    {
        if (found_.bufferSize <= 0 || found_.elapsedMs == 0) return 0;
        return (long long)(found_.sampleRate * double(found_.elapsedMs) / 1000.0 / double(found_.bufferSize));
    }

    // At least half the buffer switches the sample rate asks for: a loaded machine may run the
    // sound server slower than real time, a driver that does not stream gives none.
    bool Streamed() const
    {
        const long long expected = ExpectedBlocks();
        return found_.loaded && expected > 0 && found_.blocks * 2 >= expected;
    }

    bool WriteReport(bool streamed) const
    {
        std::wstring text = L"Veloran ASIO check\r\n";
        wchar_t line[512];
        const auto add = [&](const wchar_t* format, auto... values) {
            swprintf(line, 512, format, values...);
            text += line;
        };
        const std::wstring driverName = FromAnsi(found_.driverName);
        if (found_.loaded)
            add(L"Driver: %ls, version %ld\r\n", driverName.c_str(), found_.driverVersion);
        else
            add(L"Driver: not loaded\r\n");
        add(L"Hardware: %ls\r\n", found_.hardware.c_str());
        add(L"Sample rate: %.0f Hz\r\n", found_.sampleRate);
        add(L"Buffer size: %ld samples\r\n", found_.bufferSize);
        add(L"Latencies: input %ld, output %ld samples\r\n", found_.inputLatency, found_.outputLatency);
        add(L"Inputs: %d\r\n", int(found_.inputs.size()));
        for (size_t i = 0; i < found_.inputs.size(); ++i) {
            const auto& [name, peak] = found_.inputs[i];
            if (peak > 0)
                add(L"  Input %d: %ls, peak %d (%.1f dBFS)\r\n", int(i + 1), name.c_str(), peak,
                    20.0 * std::log10(peak / 32768.0));
            else
                add(L"  Input %d: %ls, silent\r\n", int(i + 1), name.c_str());
        }
        add(L"Outputs: %d\r\n", int(found_.outputs.size()));
        for (size_t j = 0; j < found_.outputs.size(); ++j) add(L"  Output %d: %ls\r\n", int(j + 1), found_.outputs[j].c_str());
        add(L"Played: %ls\r\n", found_.playing ? L"the internal demonstration audio" : L"nothing (play did not start)");
        add(L"Buffer switches: %lld, expected %lld in %.2f s\r\n", found_.blocks, ExpectedBlocks(),
            double(found_.elapsedMs) / 1000.0);
        add(L"Recorded file: %ls\r\n", found_.recording && !found_.recordedFile.empty()
                                           ? found_.recordedFile.c_str()
                                           : L"none (recording did not start)");
        add(L"Result: %ls\r\n", streamed ? L"the driver streamed" : L"the driver did not stream");
        return Write(text);
    }

    // To the report file in UTF-8, or else to the standard output.
    bool Write(const std::wstring& text) const
    {
        if (options_.reportPath.empty()) return WriteToStandardStream(STD_OUTPUT_HANDLE, text);
        const UniqueHandle file(CreateFileW(options_.reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            WriteToStandardStream(STD_ERROR_HANDLE,
                                  L"VeloranAsioTest: cannot write the report file " + options_.reportPath + L"\r\n");
            return false;
        }
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(size_t(std::max(bytes, 0)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), utf8.data(), bytes, nullptr, nullptr);
        DWORD written = 0;
        return WriteFile(file.get(), utf8.data(), DWORD(utf8.size()), &written, nullptr) && written == utf8.size();
    }

    CQuilletDlg& dialog_;
    const StartupOptions& options_;
    CheckFindings found_;
    ULONGLONG beginTick_ = 0;
    ULONGLONG startTick_ = 0;   // the first buffer switch
    static inline CHostCheck* active_ = nullptr;
};

}  // namespace

int RunHostCheck(CQuilletDlg& dialog, const StartupOptions& options)
{
    CHostCheck check(dialog, options);
    return check.Run();
}
