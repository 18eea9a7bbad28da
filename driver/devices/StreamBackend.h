// IStreamBackend: what the engine asks of the back end that carries one port's streams, whichever
// route (audio endpoints or kernel streaming) it takes.
#pragma once

#include <core/StreamParams.h>

#include <windows.h>

#include <cstdint>
#include <string>

class IStreamBackend {
public:
    virtual ~IStreamBackend() = default;

    // Opens and starts the directions whose path is not empty; their threads run once startEvent
    // (manual-reset; null starts at once) is set. True when every direction asked for started;
    // otherwise nothing is left open.
    virtual bool OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                              const std::wstring& renderPath, const _sStreamParams& renderParams,
                              HANDLE startEvent) = 0;
    // Asks every thread to end and returns at once.
    virtual void RequestStop() = 0;
    // Stops both directions, waiting at most waitMs for each; true when nothing is left in use.
    // Otherwise what a live thread or a pending request uses is kept until a later call succeeds.
    virtual bool Stop(DWORD waitMs) = 0;
    // The engine's render block of one buffer switch. 1 when taken, 0 without a render stream.
    virtual int DeliverRender(const void* block, int bytes) = 0;
    // Every fault of both directions since their start; lock-free.
    virtual uint64_t faultCount() const = 0;
    // A direction ended on its own since the start: its device went away or failed. Lock-free.
    virtual bool lost() const = 0;
};
