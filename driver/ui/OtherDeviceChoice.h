// COtherDeviceChoice: the rows of the other-devices dialog and what the user makes of them. Each
// row is a port the host may get: a capture and a render endpoint of one physical device (the
// same container id), or paired by hand, or one endpoint alone. Chosen rows come first, in the
// user's order; the stored ones stay although their device is away, so that the choice is kept.
#pragma once

#include "../core/OtherDevices.h"
#include "../devices/EndpointList.h"

#include <string>
#include <vector>

struct ChoiceEndpoint {
    std::wstring id;  // empty: the row has no endpoint of this direction
    std::wstring name;
    std::wstring containerId;
    int channels = 0;
    int firstChannel = 0;  // of the pair taken, counted from 0
    bool present = true;
};

struct ChoiceRow {
    ChoiceEndpoint input;
    ChoiceEndpoint output;
    bool chosen = false;

    bool hasInput() const { return !input.id.empty(); }
    bool hasOutput() const { return !output.id.empty(); }
    bool present() const { return (!hasInput() || input.present) && (!hasOutput() || output.present); }
    OtherDevice Device() const;
};

class COtherDeviceChoice {
public:
    // endpoints: the system's, as listed; taken: the ids and device paths of endpoints the driver
    // already gathers otherwise (the family's interfaces, the default devices), which are left
    // out; stored: the host's "OtherDevices".
    COtherDeviceChoice(const std::vector<EndpointDescription>& endpoints, const std::vector<std::wstring>& taken,
                       const std::vector<OtherDevice>& stored);

    const std::vector<ChoiceRow>& rows() const { return rows_; }
    // A row chosen joins the end of the chosen ones; one no longer chosen follows them.
    // Each returns the row's new index.
    size_t SetChosen(size_t row, bool chosen);
    // Moves a chosen row among the chosen ones; false at either end.
    bool Move(size_t row, int delta);
    // An input-only and an output-only row make one row, in the place of the first given; false
    // for any other two rows. The pair is chosen when either was.
    bool Pair(size_t first, size_t second);
    // A pair becomes an input-only row and an output-only row after it; false for a single.
    bool Unpair(size_t row);
    // The channel pair of one direction, from 0 in steps of 2 below the endpoint's channels.
    bool SetFirstChannel(size_t row, bool output, int firstChannel);
    // The chosen rows as "OtherDevices" entries, in order.
    std::vector<std::wstring> Entries() const;
    // Whether the chosen rows and the ports of the given clocks (a container id or, without one,
    // an endpoint path) together run on more than one clock.
    bool SeveralClocks(const std::vector<std::wstring>& portClocks) const;

private:
    size_t ChosenCount() const;

    std::vector<ChoiceRow> rows_;
};

// A port's clock among the endpoints listed: the container id of the endpoint whose id or device
// path is path, else path itself.
std::wstring ClockOf(const std::vector<EndpointDescription>& endpoints, const std::wstring& path);
