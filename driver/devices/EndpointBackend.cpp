#include "EndpointBackend.h"

#include <new>

std::unique_ptr<CEndpointBackend> CEndpointBackend::Create(IDevicePlatform& platform, bool ntSixMode,
                                                           bool tenOrLater, int endpointShareMode)
{
    // The result does not matter: a thread already in a single-threaded apartment keeps it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_ptr<CEndpointBackend> backend(
        new (std::nothrow) CEndpointBackend(platform, ntSixMode, tenOrLater, endpointShareMode));
    if (!backend || !backend->CreateEvents()) return nullptr;
    // Every operation makes its own enumerator; this one only proves that the API exists.
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(backend->endpoints_.NewEnumerator(enumerator))) return nullptr;
    return backend;
}

CEndpointBackend::CEndpointBackend(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater,
                                   int endpointShareMode)
    : endpoints_(platform), ntSixMode_(ntSixMode), tenOrLater_(tenOrLater),
      shareMode_(endpointShareMode == kExclusiveOnly || endpointShareMode == kSharedOnly ? endpointShareMode
                                                                                         : kExclusiveOrShared),
      probe_(endpoints_, shareMode_, tenOrLater),
      capture_(new (std::nothrow) CEndpointCaptureStream(platform, shareMode_, ntSixMode, tenOrLater)),
      render_(new (std::nothrow) CEndpointRenderStream(platform, shareMode_, ntSixMode, tenOrLater))
{
}

CEndpointBackend::~CEndpointBackend()
{
    // Without both streams (out of memory at construction) no thread ever ran.
    if (!capture_ || !render_) return;
    ReleaseAll();
    // A thread that outlived the wait still uses its stream: leaked rather than freed under it.
    if (capture_->threadAlive()) static_cast<void>(capture_.release());
    if (render_->threadAlive()) static_cast<void>(render_.release());
}

bool CEndpointBackend::CreateEvents()
{
    return capture_ && render_ && capture_->CreateEvents() && render_->CreateEvents();
}

bool CEndpointBackend::ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths)
{
    return endpoints_.List(renderPaths, capturePaths);
}

bool CEndpointBackend::GetDefaultEndpoint(EDataFlow flow, std::wstring& path, std::wstring& friendlyName)
{
    return endpoints_.Default(flow, path, friendlyName);
}

bool CEndpointBackend::DescribeEndpoint(const std::wstring& id, EndpointDescription& description)
{
    return endpoints_.Describe(id, description);
}

bool CEndpointBackend::FindEndpoint(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
                                    std::wstring* friendlyName)
{
    return endpoints_.Find(flow, path, device, friendlyName);
}

bool CEndpointBackend::ProbeFormats(EDataFlow flow, const std::wstring& path, EndpointFormat& format)
{
    return probe_.Probe(flow, path, format);
}

bool CEndpointBackend::OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                                    const std::wstring& renderPath, const _sStreamParams& renderParams,
                                    HANDLE startEvent)
{
    constexpr size_t kMaxPathChars = 2047;
    if (!ReleaseAll()) return false;
    if (capturePath.size() > kMaxPathChars || renderPath.size() > kMaxPathChars) return false;
    capture_->Reset(capturePath, captureParams, startEvent);
    render_->Reset(renderPath, renderParams, startEvent);

    bool started = capturePath.empty() || capture_->Start();
    started = started && (renderPath.empty() || render_->Start());
    if (!started) {
        ReleaseAll();
        return false;
    }
    render_->PaceBy(capturePath.empty() ? 0 : capture_->Info().periodFrames);
    if (!renderPath.empty()) render_->OpenHandOver();
    return true;
}

bool CEndpointBackend::Probe(const std::wstring& capturePath, const _sStreamParams& captureParams,
                             const std::wstring& renderPath, const _sStreamParams& renderParams,
                             EndpointStreamInfo& capture, EndpointStreamInfo& render)
{
    capture = {};
    render = {};
    if (!ReleaseAll()) return false;
    if (!capturePath.empty()) capture_->Probe(capturePath, captureParams, capture);
    render_->PaceBy(capture.periodFrames);
    if (!renderPath.empty()) render_->Probe(renderPath, renderParams, render);
    return true;
}

void CEndpointBackend::RequestStop()
{
    capture_->AskToStop();
    render_->AskToStop();
}

bool CEndpointBackend::StopCapture() { return capture_->Stop(stopWaitMs_); }

bool CEndpointBackend::StopRender() { return render_->Stop(stopWaitMs_); }

bool CEndpointBackend::ReleaseAll()
{
    RequestStop();
    const bool captureEnded = StopCapture();
    const bool renderEnded = StopRender();
    if (captureEnded) capture_->Release();
    if (renderEnded) render_->Release();
    return captureEnded && renderEnded;
}

bool CEndpointBackend::Stop(DWORD waitMs)
{
    stopWaitMs_ = waitMs;
    return ReleaseAll();
}

int CEndpointBackend::DeliverRender(const void* block, int bytes) { return render_->Deliver(block, bytes); }

bool CEndpointBackend::SetInputVolume(int left, int right) { return capture_->SetLevels(left, right); }

bool CEndpointBackend::SetOutputVolume(int left, int right) { return render_->SetLevels(left, right); }

std::wstring CEndpointBackend::captureName() const { return capture_->name(); }

std::wstring CEndpointBackend::renderName() const { return render_->name(); }

uint64_t CEndpointBackend::faultCount() const { return capture_->faults() + render_->faults(); }

bool CEndpointBackend::lost() const { return capture_->lost() || render_->lost(); }

HRESULT CEndpointBackend::exclusiveRefusal() const
{
    return FAILED(capture_->refusal()) ? capture_->refusal() : render_->refusal();
}
