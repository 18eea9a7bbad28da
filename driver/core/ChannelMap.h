// ASIO channel numbers are not stored: they follow from the port table, walking the ports in
// order and counting the channels of every enabled direction. The rules that keep the channel
// set usable live here too.
#pragma once

#include "Port.h"

class CLanguages;

struct ChannelTotals {
    int inputs = 0;
    int outputs = 0;
};

struct ChannelLocation {
    int port = -1;  // -1 = the number maps to no port
    int channelInPort = 0;
};

// Channels one port contributes to the ASIO list of a direction.
int PortInputChannels(const _sPort& port);
int PortOutputChannels(const _sPort& port);

ChannelTotals CountChannels(const _sPort* ports, int portCount);
ChannelLocation LocateChannel(const _sPort* ports, int portCount, int channel, bool isInput);

// At least one direction with channels is enabled each way, when any port has channels.
void EnsureOneActive(_sPort* ports, int portCount);
// Disables the last enabled directions until neither way offers more than 16 ASIO channels.
void LimitChannels(_sPort* ports, int portCount);

// Sets the port's channel names in the current language; with writeBlocks also into its
// direction blocks (cut to 31 characters).
void NameChannels(_sPort& port, bool writeBlocks, const CLanguages& languages);
