#include "ChannelMap.h"

#include "../ui/Languages.h"

#include <cwchar>

int PortInputChannels(const _sPort& port)
{
    if (!port.input.enabled) return 0;
    const int channels = port.inputFormat.channels;
    return channels == 1 && port.input.monoToStereo ? 2 : channels;
}

int PortOutputChannels(const _sPort& port)
{
    return port.output.enabled ? port.outputFormat.channels : 0;
}

ChannelTotals CountChannels(const _sPort* ports, int portCount)
{
    ChannelTotals totals;
    for (int i = 0; i < portCount; ++i) {
        totals.inputs += PortInputChannels(ports[i]);
        totals.outputs += PortOutputChannels(ports[i]);
    }
    return totals;
}

ChannelLocation LocateChannel(const _sPort* ports, int portCount, int channel, bool isInput)
{
    if (channel < 0) return {};
    int first = 0;
    for (int i = 0; i < portCount; ++i) {
        const int count = isInput ? PortInputChannels(ports[i]) : PortOutputChannels(ports[i]);
        if (channel < first + count) return {i, channel - first};
        first += count;
    }
    return {};
}

void EnsureOneActive(_sPort* ports, int portCount)
{
    bool anyInput = false, anyOutput = false;
    for (int i = 0; i < portCount; ++i) {
        anyInput = anyInput || (ports[i].input.enabled && ports[i].inputFormat.channels > 0);
        anyOutput = anyOutput || (ports[i].output.enabled && ports[i].outputFormat.channels > 0);
    }
    for (int i = 0; i < portCount && !anyInput; ++i) {
        if (ports[i].inputFormat.channels > 0) {
            ports[i].input.enabled = 1;
            anyInput = true;
        }
    }
    for (int i = 0; i < portCount && !anyOutput; ++i) {
        if (ports[i].outputFormat.channels > 0) {
            ports[i].output.enabled = 1;
            anyOutput = true;
        }
    }
}

void LimitChannels(_sPort* ports, int portCount)
{
    for (;;) {
        const ChannelTotals totals = CountChannels(ports, portCount);
        if (totals.inputs <= kMaxAsioChannels && totals.outputs <= kMaxAsioChannels) return;
        if (totals.inputs > kMaxAsioChannels) {
            for (int i = portCount - 1; i >= 0; --i) {
                if (ports[i].input.enabled) {
                    ports[i].input.enabled = 0;
                    break;
                }
            }
        }
        if (totals.outputs > kMaxAsioChannels) {
            for (int i = portCount - 1; i >= 0; --i) {
                if (ports[i].output.enabled) {
                    ports[i].output.enabled = 0;
                    break;
                }
            }
        }
    }
}

namespace {

// The four stereo pairs of an Octa X are numbered across the unit: "Octa X - In 3".
bool OctaLabels(const std::wstring& name, std::wstring& base, const wchar_t*& left, const wchar_t*& right)
{
    static const struct {
        const wchar_t* prefix;
        const wchar_t* left;
        const wchar_t* right;
    } kPairs[] = {{L"Octa X 1-2", L"1/L", L"2/R"}, {L"Octa X 3-4", L"3", L"4"}, {L"Octa X 5-6", L"5", L"6"},
                  {L"Octa X 7-8", L"7", L"8"}};
    for (const auto& pair : kPairs) {
        if (name.compare(0, wcslen(pair.prefix), pair.prefix) != 0) continue;
        base = name.find(L"(1)") != std::wstring::npos ? L"Octa X (1)" : L"Octa X";
        left = pair.left;
        right = pair.right;
        return true;
    }
    return false;
}

void NameDirection(const std::wstring& port, int channels, bool stereo, int numberedId, int leftId, int rightId,
                   const CLanguages& languages, std::wstring (&names)[2])
{
    names[0].clear();
    names[1].clear();
    if (stereo) {
        std::wstring base;
        const wchar_t* left = nullptr;
        const wchar_t* right = nullptr;
        if (OctaLabels(port, base, left, right)) {
            const std::wstring label = languages.Text(numberedId);
            names[0] = base + L" - " + label + L" " + left;
            names[1] = base + L" - " + label + L" " + right;
        } else {
            names[0] = port + L" - " + languages.Text(leftId);
            names[1] = port + L" - " + languages.Text(rightId);
        }
        return;
    }
    // A port keeps names for two channels at most.
    for (int j = 1; j <= channels && j <= 2; ++j)
        names[j - 1] = port + L" - " + languages.Text(numberedId) + L" " + std::to_wstring(j);
}

void CopyName(const std::wstring& name, wchar_t (&field)[32])
{
    const size_t length = name.copy(field, kNameLength);
    field[length] = L'\0';
}

}  // namespace

void NameChannels(_sPort& port, bool writeBlocks, const CLanguages& languages)
{
    const int inputs = port.inputFormat.channels;
    if (inputs == 1 && !port.input.monoToStereo) {
        port.inputChannelNames[0] = port.name + L" - " + languages.Text(kStrIn);
        port.inputChannelNames[1].clear();
    } else {
        NameDirection(port.name, inputs, inputs == 2 || inputs == 1, kStrInNumbered, kStrInLeft, kStrInRight,
                      languages, port.inputChannelNames);
    }
    const int outputs = port.outputFormat.channels;
    NameDirection(port.name, outputs, outputs == 2, kStrOutNumbered, kStrOutLeft, kStrOutRight, languages,
                  port.outputChannelNames);
    if (!writeBlocks) return;
    for (int c = 0; c < 2; ++c) {
        CopyName(port.inputChannelNames[c], port.input.channelName[c]);
        CopyName(port.outputChannelNames[c], port.output.channelName[c]);
    }
}
