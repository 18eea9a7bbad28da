#include "OtherDeviceChoice.h"

#include <algorithm>
#include <set>

namespace {

const EndpointDescription* Listed(const std::vector<EndpointDescription>& endpoints, const std::wstring& id)
{
    const auto found =
        std::find_if(endpoints.begin(), endpoints.end(), [&](const EndpointDescription& e) { return e.id == id; });
    return found == endpoints.end() ? nullptr : &*found;
}

ChoiceEndpoint FromListed(const EndpointDescription& listed)
{
    ChoiceEndpoint endpoint;
    endpoint.id = listed.id;
    endpoint.name = !listed.friendlyName.empty() ? listed.friendlyName
                    : !listed.interfaceName.empty() ? listed.interfaceName
                                                     : listed.id;
    endpoint.containerId = listed.containerId;
    endpoint.channels = listed.channels;
    endpoint.present = listed.active;
    return endpoint;
}

// A stored endpoint: as listed, or known by its id alone and away.
ChoiceEndpoint FromStored(const std::vector<EndpointDescription>& endpoints, const std::wstring& id, int firstChannel)
{
    const EndpointDescription* listed = Listed(endpoints, id);
    ChoiceEndpoint endpoint;
    if (listed) {
        endpoint = FromListed(*listed);
    } else {
        endpoint.id = id;
        endpoint.name = id;
        endpoint.present = false;
    }
    endpoint.firstChannel = firstChannel;
    return endpoint;
}

std::wstring ClockKey(const ChoiceEndpoint& endpoint)
{
    return endpoint.containerId.empty() ? endpoint.id : endpoint.containerId;
}

}  // namespace

OtherDevice ChoiceRow::Device() const
{
    OtherDevice device;
    const ChoiceEndpoint& first = hasInput() ? input : output;
    device.endpointId = first.id;
    device.endpointFirstChannel = first.firstChannel;
    if (hasInput() && hasOutput()) {
        device.renderId = output.id;
        device.renderFirstChannel = output.firstChannel;
    }
    return device;
}

COtherDeviceChoice::COtherDeviceChoice(const std::vector<EndpointDescription>& endpoints,
                                       const std::vector<std::wstring>& taken, const std::vector<OtherDevice>& stored)
{
    std::set<std::wstring> used;
    for (const OtherDevice& device : stored) {
        if (used.count(device.endpointId) || (device.paired() && used.count(device.renderId))) continue;
        ChoiceRow row;
        row.chosen = true;
        ChoiceEndpoint first = FromStored(endpoints, device.endpointId, device.endpointFirstChannel);
        const EndpointDescription* listed = Listed(endpoints, device.endpointId);
        if (device.paired()) {
            row.input = std::move(first);
            row.output = FromStored(endpoints, device.renderId, device.renderFirstChannel);
        } else if (listed && listed->flow == eRender) {
            row.output = std::move(first);
        } else {
            row.input = std::move(first);
        }
        used.insert(device.endpointId);
        if (device.paired()) used.insert(device.renderId);
        rows_.push_back(std::move(row));
    }

    const auto free = [&](const EndpointDescription& e) {
        const auto isTaken = [&](const std::wstring& path) {
            return !path.empty() && std::find(taken.begin(), taken.end(), path) != taken.end();
        };
        return e.active && !used.count(e.id) && !isTaken(e.id) && !isTaken(e.interfacePath);
    };
    for (const EndpointDescription& endpoint : endpoints) {
        if (!free(endpoint)) continue;
        used.insert(endpoint.id);
        ChoiceRow row;
        (endpoint.flow == eCapture ? row.input : row.output) = FromListed(endpoint);
        // The first free endpoint of the other direction in the same physical device.
        const auto partner = std::find_if(endpoints.begin(), endpoints.end(), [&](const EndpointDescription& e) {
            return !endpoint.containerId.empty() && e.containerId == endpoint.containerId && e.flow != endpoint.flow &&
                   free(e);
        });
        if (partner != endpoints.end()) {
            used.insert(partner->id);
            (partner->flow == eCapture ? row.input : row.output) = FromListed(*partner);
        }
        rows_.push_back(std::move(row));
    }
}

size_t COtherDeviceChoice::ChosenCount() const
{
    return size_t(std::count_if(rows_.begin(), rows_.end(), [](const ChoiceRow& r) { return r.chosen; }));
}

size_t COtherDeviceChoice::SetChosen(size_t row, bool chosen)
{
    if (row >= rows_.size() || rows_[row].chosen == chosen) return row;
    ChoiceRow moved = rows_[row];
    moved.chosen = chosen;
    rows_.erase(rows_.begin() + row);
    // The end of the chosen rows, which is also the start of the others.
    const size_t at = ChosenCount();
    rows_.insert(rows_.begin() + at, std::move(moved));
    return at;
}

bool COtherDeviceChoice::Move(size_t row, int delta)
{
    const size_t chosen = ChosenCount();
    if (row >= chosen || (delta < 0 && row < size_t(-delta)) || row + delta >= chosen) return false;
    std::swap(rows_[row], rows_[row + delta]);
    return true;
}

bool COtherDeviceChoice::Pair(size_t first, size_t second)
{
    if (first >= rows_.size() || second >= rows_.size() || first == second) return false;
    const ChoiceRow& a = rows_[first];
    const ChoiceRow& b = rows_[second];
    const bool aIn = a.hasInput() && !a.hasOutput(), aOut = a.hasOutput() && !a.hasInput();
    const bool bIn = b.hasInput() && !b.hasOutput(), bOut = b.hasOutput() && !b.hasInput();
    if (!(aIn && bOut) && !(aOut && bIn)) return false;
    ChoiceRow pair;
    pair.input = aIn ? a.input : b.input;
    pair.output = aOut ? a.output : b.output;
    pair.chosen = a.chosen || b.chosen;
    rows_[first] = std::move(pair);
    rows_.erase(rows_.begin() + second);
    // A pair chosen through its second row joins the chosen ones at their end.
    std::stable_partition(rows_.begin(), rows_.end(), [](const ChoiceRow& r) { return r.chosen; });
    return true;
}

bool COtherDeviceChoice::Unpair(size_t row)
{
    if (row >= rows_.size() || !rows_[row].hasInput() || !rows_[row].hasOutput()) return false;
    ChoiceRow output;
    output.output = rows_[row].output;
    output.chosen = rows_[row].chosen;
    rows_[row].output = ChoiceEndpoint();
    rows_.insert(rows_.begin() + row + 1, std::move(output));
    return true;
}

bool COtherDeviceChoice::SetFirstChannel(size_t row, bool output, int firstChannel)
{
    if (row >= rows_.size()) return false;
    ChoiceEndpoint& endpoint = output ? rows_[row].output : rows_[row].input;
    if (endpoint.id.empty() || firstChannel < 0 || firstChannel % 2 != 0 || firstChannel + 2 > endpoint.channels ||
        firstChannel + 2 > kMaxEndpointChannels)
        return false;
    endpoint.firstChannel = firstChannel;
    return true;
}

std::vector<std::wstring> COtherDeviceChoice::Entries() const
{
    std::vector<std::wstring> entries;
    for (const ChoiceRow& row : rows_)
        if (row.chosen) entries.push_back(FormatOtherDevice(row.Device()));
    return entries;
}

bool COtherDeviceChoice::SeveralClocks(const std::vector<std::wstring>& portClocks) const
{
    std::set<std::wstring> clocks(portClocks.begin(), portClocks.end());
    // A pair made by hand is one device to the user, so it counts its input's clock.
    for (const ChoiceRow& row : rows_)
        if (row.chosen) clocks.insert(ClockKey(row.hasInput() ? row.input : row.output));
    return clocks.size() > 1;
}

std::wstring ClockOf(const std::vector<EndpointDescription>& endpoints, const std::wstring& path)
{
    for (const EndpointDescription& e : endpoints)
        if (!path.empty() && (e.id == path || e.interfacePath == path))
            return e.containerId.empty() ? path : e.containerId;
    return path;
}
