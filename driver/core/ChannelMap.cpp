#include "ChannelMap.h"

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
