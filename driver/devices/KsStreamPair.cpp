#include "KsStreamPair.h"

#include "DeviceIds.h"
#include "KsAudCapFilter.h"
#include "KsAudRenFilter.h"
#include "KsEnumFilters.h"

#include <new>

std::unique_ptr<CKsStreamPair> CKsStreamPair::Create(IDevicePlatform& platform)
{
    std::unique_ptr<CKsStreamPair> pair(new (std::nothrow) CKsStreamPair(platform));
    if (!pair || !pair->capture_ || !pair->render_ || !pair->capture_->CreateEvents() ||
        !pair->render_->CreateEvents())
        return nullptr;
    return pair;
}

CKsStreamPair::CKsStreamPair(IDevicePlatform& platform)
    : capture_(new (std::nothrow) CKsCaptureStream(platform)), render_(new (std::nothrow) CKsRenderStream(platform))
{
}

CKsStreamPair::~CKsStreamPair()
{
    if (!capture_ || !render_) return;
    const bool captureDone = capture_->Stop(kStopWaitMs);
    const bool renderDone = render_->Stop(kStopWaitMs);
    // What a live thread or the kernel still uses is leaked rather than freed under it.
    if (!captureDone) static_cast<void>(capture_.release());
    if (!renderDone) static_cast<void>(render_.release());
}

bool CKsStreamPair::ListFilters(IDevicePlatform& platform, std::vector<std::wstring>& renderPaths,
                                std::vector<std::wstring>& capturePaths)
{
    CKsEnumFilters render(platform);
    CKsEnumFilters capture(platform);
    if (FAILED(render.EnumFilters(KsFilterType::Render, kKsCategoryAudio, kKsCategoryRender)) ||
        FAILED(capture.EnumFilters(KsFilterType::Capture, kKsCategoryAudio, kKsCategoryCapture)))
        return false;
    for (const auto& filter : render.filters()) renderPaths.push_back(filter->devicePath());
    for (const auto& filter : capture.filters()) capturePaths.push_back(filter->devicePath());
    return true;
}

bool CKsStreamPair::QueryFormat(IDevicePlatform& platform, bool capture, const std::wstring& path,
                                EndpointFormat& format)
{
    std::unique_ptr<CKsAudFilter> filter;
    if (capture)
        filter.reset(new (std::nothrow) CKsAudCapFilter(platform, path, nullptr));
    else
        filter.reset(new (std::nothrow) CKsAudRenFilter(platform, path, nullptr));
    KsFormatBounds bounds;
    if (!filter || FAILED(filter->Open()) || FAILED(filter->EnumeratePins()) || !filter->GetFormatRange(bounds))
        return false;
    format.minRate = int(bounds.minRate);
    format.maxRate = int(bounds.maxRate);
    format.minBits = int(bounds.minBits);
    format.maxBits = int(bounds.maxBits);
    format.channels = int(bounds.maxChannels);
    return format.channels > 0;
}

bool CKsStreamPair::OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                                 const std::wstring& renderPath, const _sStreamParams& renderParams,
                                 HANDLE startEvent)
{
    // A stream still held by an earlier stop cannot be opened again.
    if (!Stop(0)) return false;
    bool opened = renderPath.empty() || render_->Open(renderPath, renderParams, startEvent);
    opened = opened && (capturePath.empty() || capture_->Open(capturePath, captureParams, startEvent));
    bool started = opened && (renderPath.empty() || render_->Start());
    started = started && (capturePath.empty() || capture_->Start());
    if (started) return true;
    Stop(kStopWaitMs);
    return false;
}

void CKsStreamPair::RequestStop()
{
    capture_->AskToStop();
    render_->AskToStop();
}

bool CKsStreamPair::Stop(DWORD waitMs)
{
    // Both are asked first, so that one wait covers them.
    RequestStop();
    const bool captureDone = capture_->Stop(waitMs);
    return render_->Stop(waitMs) && captureDone;
}

int CKsStreamPair::DeliverRender(const void* block, int bytes) { return render_->Write(block, bytes); }

uint64_t CKsStreamPair::faultCount() const { return capture_->faults() + render_->faults(); }

bool CKsStreamPair::lost() const { return capture_->lost() || render_->lost(); }
