// IRenderSource: where a render stream whose device runs on a clock of its own takes its blocks,
// pulled from the stream's thread at the device's pace, instead of waiting for the engine's.
#pragma once

class IRenderSource {
public:
    // Fills block with the stream's next bytes (its nominal packet). dueAt, in seconds on the
    // device platform's clock: when the device reaches the frame as far before the block's first
    // frame as the stream keeps queued at most. It is no later than the call, and advances with
    // the device's clock frame for frame.
    virtual void PullRender(void* block, int bytes, double dueAt) = 0;

protected:
    ~IRenderSource() = default;
};
