// The channel rows of the test host's window: one name and one on/off toggle per driver input
// (left) and output (right), the titles of their two frames, and the curves from each input to
// the outputs monitoring feeds.
#pragma once

#include "HostBuffers.h"
#include "ToolTips.h"

#include <controls/ColorStatic.h>
#include <controls/GdiObjects.h>
#include <controls/MixaraLikeCheckBox.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include <windows.h>

#include <array>
#include <functional>

class CAsioHost;
class CTestEngine;

class CChannelRows {
public:
    CChannelRows(CMixaraLikeStaticFrameAuto& inputsFrame, CMixaraLikeStaticFrameAuto& outputsFrame);

    // Binds the dialog's 64 row controls and stacks each kind of row below its first one.
    void Attach(HWND dialog);
    // Gives the toggles their images, which fixes their size, then places the curves' ends.
    void SetToggleImages();
    void HideAll();
    // Every row empty, off and disabled; every flag 0 and every route -1.
    void Reset(CTestEngine& engine);
    // Reads the driver's channels and fills the rows, the routes and the frame titles.
    void Build(CAsioHost& host, CTestEngine& engine, int language);
    // Makes both frames tall enough for the longer column (two rows when a column is empty)
    // and returns the lower frame bottom, in client coordinates.
    int FitFrames();
    // The rectangle around both frames that holds the rows and the curves.
    void UpdateChannelArea();
    RECT ChannelArea() const { return channelArea_; }

    // A toggle reported a click (it has flipped itself). With Ctrl held the channel goes solo,
    // or, when it already was, every other channel of its side comes back.
    bool OnToggle(int id, bool ctrlHeld, CTestEngine& engine);
    bool IsToggle(HWND window) const;
    void UpdateTooltips(CToolTips& tips, const CTestEngine& engine, int language) const;
    void DrawCurves(HDC dc, const CTestEngine& engine) const;

    int Inputs() const { return inputs_; }
    int Outputs() const { return outputs_; }
    POINT InputAnchor(int row) const { return inputAnchors_[row]; }
    POINT OutputAnchor(int row) const { return outputAnchors_[row]; }

private:
    struct Side {
        // Plain coloured labels: no faces.
        std::array<CColorStatic, kHostMaxChannels> names;
        std::array<CMixaraLikeCheckBox, kHostMaxChannels> toggles;
    };

    void ShowRows(Side& side, int count, const std::function<const std::wstring&(int)>& name);
    void FitFrame(CMixaraLikeStaticFrameAuto& frame, const Side& side, int rows);

    CMixaraLikeStaticFrameAuto& inputsFrame_;
    CMixaraLikeStaticFrameAuto& outputsFrame_;
    Side in_;
    Side out_;
    int inputs_ = 0;
    int outputs_ = 0;
    std::array<POINT, kHostMaxChannels> inputAnchors_{};
    std::array<POINT, kHostMaxChannels> outputAnchors_{};
    RECT channelArea_{};
    UniquePen activePen_;
    UniquePen inactivePen_;
};
