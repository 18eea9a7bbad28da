// Port records as the port builder makes them, for tests that need channels.
#pragma once

#include <core/Port.h>

#include <cwchar>
#include <string>

inline _sPort MakeTestPort(const std::wstring& name, int inputs, int outputs, bool monoToStereo = false)
{
    _sPort port;
    port.name = name;
    port.capturePath = L"\\\\?\\usb#capture#" + name;
    port.renderPath = L"\\\\?\\usb#render#" + name;
    port.inputFormat.channels = inputs;
    port.outputFormat.channels = outputs;
    port.input.monoToStereo = monoToStereo;
    const wchar_t* inNames[2] = {L"In L", L"In R"};
    const wchar_t* outNames[2] = {L"Out L", L"Out R"};
    for (int c = 0; c < 2; ++c) {
        swprintf(port.input.channelName[c], 32, L"%ls - %ls", name.c_str(), inNames[c]);
        swprintf(port.output.channelName[c], 32, L"%ls - %ls", name.c_str(), outNames[c]);
    }
    return port;
}
