// CKsStreamPair: the kernel-streaming route of one interface: a render and a capture stream,
// opened and started together (render first) and stopped together. Also lists the audio filters
// of both data flows and reads a filter's formats, for systems without the endpoint API.
//
// A stream whose thread or pending requests outlive a bounded stop is kept, never freed: the
// destructor leaves it behind.
#pragma once

#include "DevicePlatform.h"
#include "EndpointFormat.h"
#include "KsCaptureStream.h"
#include "KsRenderStream.h"
#include "StreamBackend.h"

#include <memory>
#include <string>
#include <vector>

class CKsStreamPair final : public IStreamBackend {
public:
    static constexpr DWORD kStopWaitMs = 3000;  // default bound of the destructor's stop

    // Null when the streams' events cannot be made.
    static std::unique_ptr<CKsStreamPair> Create(IDevicePlatform& platform);
    ~CKsStreamPair() override;
    CKsStreamPair(const CKsStreamPair&) = delete;
    CKsStreamPair& operator=(const CKsStreamPair&) = delete;

    // The paths of the filters in KSCATEGORY_AUDIO that are also render (capture) filters, in
    // enumeration order; false unless both categories could be listed.
    static bool ListFilters(IDevicePlatform& platform, std::vector<std::wstring>& renderPaths,
                            std::vector<std::wstring>& capturePaths);
    // The rates, bits and channels of the filter's streaming pins; false when it has none.
    static bool QueryFormat(IDevicePlatform& platform, bool capture, const std::wstring& path,
                            EndpointFormat& format);

    bool OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                      const std::wstring& renderPath, const _sStreamParams& renderParams,
                      HANDLE startEvent) override;
    void RequestStop() override;
    bool Stop(DWORD waitMs) override;
    int DeliverRender(const void* block, int bytes) override;
    uint64_t faultCount() const override;
    bool lost() const override;

    const CKsCaptureStream& capture() const { return *capture_; }
    const CKsRenderStream& render() const { return *render_; }

private:
    explicit CKsStreamPair(IDevicePlatform& platform);

    std::unique_ptr<CKsCaptureStream> capture_;
    std::unique_ptr<CKsRenderStream> render_;
};
