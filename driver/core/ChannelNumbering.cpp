#include "ChannelNumbering.h"

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
