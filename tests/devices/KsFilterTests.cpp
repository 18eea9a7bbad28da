#include <devices/DeviceIds.h>
#include <devices/KsAudCapFilter.h>
#include <devices/KsAudRenFilter.h>
#include <devices/KsEnumFilters.h>

#include <core/KnownDeviceTable.h>

#include "../virtual/VirtualHardware.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <algorithm>
#include <functional>

namespace {

namespace ids = VirtualUsb;

WAVEFORMATEXTENSIBLE Format(DWORD rate, WORD bits, WORD channels, bool extensible)
{
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.wBitsPerSample = bits;
    format.Format.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
    format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
    if (extensible) {
        format.Format.cbSize = 22;
        format.Samples.wValidBitsPerSample = bits;
        format.dwChannelMask = 3;
        format.SubFormat = kSubtypePcm;
    }
    return format;
}

VirtualKsPin Pin(KSPIN_COMMUNICATION communication, KSPIN_DATAFLOW flow)
{
    VirtualKsPin pin;
    pin.communication = communication;
    pin.dataFlow = flow;
    return pin;
}

std::vector<ULONG> PinIds(const std::vector<CKsPin*>& pins)
{
    std::vector<ULONG> result;
    for (const CKsPin* pin : pins) result.push_back(pin->pinId());
    return result;
}

class KsFilterTest : public ::testing::Test {
protected:
    // A filter of its own, opened and enumerated as the given audio filter class.
    template <typename Filter>
    std::unique_ptr<Filter> Enumerated(std::vector<VirtualKsPin> pins, CVirtualKs::FilterId* id = nullptr)
    {
        VirtualKsFilter model;
        model.path = L"\\\\?\\root#media#" + std::to_wstring(++filters_) + L"#{6994ad04-93ef-11d0-a3cc-00a0c9223196}";
        model.pins = std::move(pins);
        const auto added = hw.ks.AddFilter(model);
        if (id) *id = added;
        auto filter = std::make_unique<Filter>(hw, model.path, nullptr);
        EXPECT_EQ(filter->Open(), S_OK);
        EXPECT_EQ(filter->EnumeratePins(), S_OK);
        return filter;
    }

    CVirtualHardware hw;
    CKnownDeviceTable table;
    int filters_ = 0;
};

TEST_F(KsFilterTest, FiltersAreFoundInTwoCategoriesAndOpenShared)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    const auto strym = hw.AddInterface(ids::kStrym, 1, 0);
    CKsEnumFilters render(hw), capture(hw);
    ASSERT_EQ(render.EnumFilters(KsFilterType::Render, kKsCategoryAudio, kKsCategoryRender), S_OK);
    ASSERT_EQ(render.filters().size(), 1u);
    EXPECT_EQ(render.filters()[0]->devicePath(), hw.usb.AudioEndpointPath(lumo.device, false));
    EXPECT_NE(dynamic_cast<CKsAudRenFilter*>(render.filters()[0].get()), nullptr);
    ASSERT_EQ(capture.EnumFilters(KsFilterType::Capture, kKsCategoryAudio, kKsCategoryCapture), S_OK);
    EXPECT_EQ(capture.filters().size(), 2u);

    // A removed alias does not count; an unplugged device takes its filters along.
    hw.ks.SetAlias(lumo.captureFilter, kKsCategoryCapture, SPINT_ACTIVE | SPINT_REMOVED);
    ASSERT_EQ(capture.EnumFilters(KsFilterType::Capture, kKsCategoryAudio, kKsCategoryCapture), S_OK);
    ASSERT_EQ(capture.filters().size(), 1u);
    EXPECT_EQ(capture.filters()[0]->devicePath(), hw.usb.AudioEndpointPath(strym.device, true));
    hw.usb.RemoveDevice(strym.device);
    EXPECT_EQ(capture.EnumFilters(KsFilterType::Capture, kKsCategoryAudio, kKsCategoryCapture), E_FAIL);
    EXPECT_TRUE(capture.filters().empty());
    EXPECT_EQ(capture.EnumFilters(KsFilterType::Capture, GUID_NULL, kKsCategoryCapture), E_FAIL);

    // The level controls open the filter a stream holds; the path names the product.
    const std::wstring path = hw.usb.AudioEndpointPath(lumo.device, false);
    CKsAudRenFilter stream(hw, path, &table), levels(hw, path, &table);
    EXPECT_EQ(stream.Open(), S_OK);
    EXPECT_EQ(levels.Open(), S_OK);
    EXPECT_EQ(hw.ks.LastShareMode(lumo.renderFilter), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(std::wstring(levels.knownDevice().modelName), L"Lumo A1");
}

TEST_F(KsFilterTest, PinsAreClassifiedAndOnlyStandardAudioPinsAccepted)
{
    VirtualKsPin looped = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    looped.interfaces[0].Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    VirtualKsPin otherMedium = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    otherMedium.mediums[0].Set = kKsInterfaceSetStandard;
    const VirtualKsPin bridge = Pin(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN);
    const VirtualKsPin unknown = Pin(static_cast<KSPIN_COMMUNICATION>(4), KSPIN_DATAFLOW_IN);
    const std::vector<VirtualKsPin> pins = {Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN),
                                            Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT),
                                            Pin(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_IN),
                                            Pin(KSPIN_COMMUNICATION_SOURCE, KSPIN_DATAFLOW_OUT),
                                            bridge,
                                            looped,
                                            otherMedium,
                                            unknown};
    CVirtualKs::FilterId id = -1;
    const auto audio = Enumerated<CKsAudRenFilter>(pins, &id);
    EXPECT_EQ(PinIds(audio->renderSinkPins()), (std::vector<ULONG>{0, 2}));
    EXPECT_EQ(PinIds(audio->renderSourcePins()), (std::vector<ULONG>{2}));
    EXPECT_EQ(PinIds(audio->captureSinkPins()), (std::vector<ULONG>{1}));
    EXPECT_EQ(PinIds(audio->captureSourcePins()), (std::vector<ULONG>{3}));
    EXPECT_EQ(audio->pins().size(), 4u);
    EXPECT_EQ(audio->renderSinkPins()[0]->pinType(), KsPinType::Render);
    EXPECT_EQ(audio->renderSinkPins()[1]->pinType(), KsPinType::Plain);
    EXPECT_EQ(audio->captureSinkPins()[0]->pinType(), KsPinType::Capture);

    // A plain filter keeps every pin, but a pin without a connect request cannot be created.
    CKsFilter plain(hw, hw.ks.Filter(id).path);
    ASSERT_EQ(plain.Open(), S_OK);
    ASSERT_EQ(plain.EnumeratePins(), S_OK);
    EXPECT_EQ(plain.pins().size(), pins.size());
    EXPECT_EQ(PinIds(plain.noCommunicationPins()), (std::vector<ULONG>{4}));
    EXPECT_EQ(plain.pins()[0]->name(), L"Pin");
    EXPECT_EQ(plain.pins()[0]->Create(false), E_FAIL);
    EXPECT_FALSE(plain.pins()[0]->valid());
    EXPECT_TRUE(hw.ks.Connects(id).empty());

    // Bridge pins alone make no audio filter.
    hw.ks.Filter(id).pins = {bridge, unknown};
    EXPECT_EQ(audio->EnumeratePins(), E_FAIL);
    EXPECT_TRUE(audio->pins().empty());
}

TEST_F(KsFilterTest, RenderPinFallsBackToAnyPinThatTakesTheFormatAndLeavesTheFilter)
{
    VirtualKsPin lenient = Pin(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_IN);
    lenient.acceptsUncovered = true;
    CVirtualKs::FilterId id = -1;
    auto filter = Enumerated<CKsAudRenFilter>({Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN), lenient}, &id);
    const auto uncovered = Format(96000, 16, 2, false);
    auto pin = filter->CreateRenderPin(&uncovered.Format);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->pinId(), 1u);
    EXPECT_TRUE(pin->valid());
    const auto connects = hw.ks.Connects(id);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[0].result, DWORD(ERROR_NO_MATCH));
    EXPECT_EQ(connects[1].pinId, 1u);

    // The caller owns it now: no list of the filter may still point at it.
    for (const auto* list : {&filter->renderSinkPins(), &filter->renderSourcePins()})
        EXPECT_EQ(std::count(list->begin(), list->end(), pin.get()), 0);
    ASSERT_EQ(filter->pins().size(), 1u);
    filter.reset();
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), S_OK);
    pin.reset();
    const auto instances = hw.ks.PinInstances(id);
    ASSERT_EQ(instances.size(), 1u);
    EXPECT_FALSE(instances[0].open);
    EXPECT_EQ(instances[0].states, (std::vector<KSSTATE>{KSSTATE_RUN, KSSTATE_STOP}));
}

TEST_F(KsFilterTest, CapturePinComesOnlyFromAPinWhoseRangesCoverTheFormat)
{
    VirtualKsPin lenient = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT);
    lenient.acceptsUncovered = true;
    CVirtualKs::FilterId id = -1;
    const auto filter = Enumerated<CKsAudCapFilter>({lenient}, &id);
    const auto uncovered = Format(96000, 16, 2, true);
    EXPECT_EQ(filter->CreateCapturePin(&uncovered.Format), nullptr);
    EXPECT_TRUE(hw.ks.Connects(id).empty());
    const auto covered = Format(48000, 16, 2, true);
    CKsAudPin* pin = filter->CreateCapturePin(&covered.Format);
    ASSERT_NE(pin, nullptr);
    EXPECT_TRUE(pin->valid());
    EXPECT_EQ(filter->captureSinkPins()[0], pin);
}

TEST_F(KsFilterTest, ConnectRequestFollowsTheFormatAndThePinPriority)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    const std::wstring path = hw.usb.AudioEndpointPath(lumo.device, false);
    CKsAudRenFilter filter(hw, path, &table);
    ASSERT_EQ(filter.Open(), S_OK);
    ASSERT_EQ(filter.EnumeratePins(), S_OK);
    const auto extensible = Format(48000, 24, 2, true);
    const auto pin = filter.CreateRenderPin(&extensible.Format);
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->connectRequest().size(), 176u);
    auto connects = hw.ks.Connects(lumo.renderFilter);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].formatSize, 104u);
    EXPECT_EQ(connects[0].sampleSize, 6u);
    EXPECT_EQ(connects[0].interfaceId, ULONG(KSINTERFACE_STANDARD_STREAMING));
    EXPECT_EQ(connects[0].priority.PriorityClass, 0xFFFFFFFFu);
    EXPECT_EQ(connects[0].priority.PrioritySubClass, 0xFFFFFFFFu);
    EXPECT_EQ(std::memcmp(connects[0].waveFormat.data(), &extensible, sizeof(extensible)), 0);

    // PCM is 18 bytes whatever cbSize says: the request shrinks back.
    auto pcm = Format(44100, 16, 2, false);
    pcm.Format.cbSize = 22;
    ASSERT_EQ(pin->SetFormat(&pcm.Format), S_OK);
    EXPECT_EQ(pin->connectRequest().size(), 154u);
    EXPECT_EQ(LoadAt<KSDATAFORMAT>(pin->connectRequest().data(), sizeof(KSPIN_CONNECT)).FormatSize, 82u);

    CKsAudRenFilter prioritised(hw, path, &table);
    prioritised.pinPriorityClass = KSPRIORITY_NORMAL;
    ASSERT_EQ(prioritised.Open(), S_OK);
    ASSERT_EQ(prioritised.EnumeratePins(), S_OK);
    ASSERT_NE(prioritised.CreateRenderPin(&pcm.Format), nullptr);
    connects = hw.ks.Connects(lumo.renderFilter);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[1].formatSize, 82u);
    EXPECT_EQ(connects[1].priority.PriorityClass, ULONG(KSPRIORITY_NORMAL));
    EXPECT_EQ(connects[1].priority.PrioritySubClass, 1u);
}

TEST_F(KsFilterTest, FrameSizeComesFromEitherAllocatorFraming)
{
    VirtualKsPin framed = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT);
    framed.frameSize = 1764;
    framed.extendedFrameSize = 4000;
    VirtualKsPin extended = framed;
    extended.frameSize = 0;
    extended.extendedFrameSize = 1920;
    VirtualKsPin unframed = extended;
    unframed.extendedFrameSize = 0;
    const auto format = Format(44100, 16, 2, false);
    for (const auto& [model, expected] : {std::pair{framed, 1764u}, {extended, 1920u}, {unframed, 0u}}) {
        const auto filter = Enumerated<CKsAudCapFilter>({model});
        CKsAudPin* pin = filter->CreateCapturePin(&format.Format);
        ASSERT_NE(pin, nullptr);
        EXPECT_EQ(pin->GetFrameSize(), expected);
    }
}

TEST_F(KsFilterTest, FormatListsTakePinBoundsForRenderAndEveryRangeForCapture)
{
    VirtualKsRange adpcm{8000, 192000, 4, 32, 8};
    adpcm.subFormat.Data1 = 2;  // copied as an audio range, but not counted
    VirtualKsPin render = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    render.ranges = {{8000, 8000, 16, 16, 1}, {44100, 96000, 16, 24, 2}, adpcm};
    VirtualKsPin capture = render;
    capture.dataFlow = KSPIN_DATAFLOW_OUT;
    std::vector<ULONG> rates, bits;
    ULONG channels = 0;

    const auto renderFilter = Enumerated<CKsAudRenFilter>({render});
    ASSERT_TRUE(renderFilter->GetFormatLists(rates, bits, channels));
    EXPECT_EQ(rates, (std::vector<ULONG>{8000, 96000}));
    EXPECT_EQ(bits, (std::vector<ULONG>{16, 24}));
    EXPECT_EQ(channels, 2u);

    const auto captureFilter = Enumerated<CKsAudCapFilter>({capture});
    ASSERT_TRUE(captureFilter->GetFormatLists(rates, bits, channels));
    EXPECT_EQ(rates, (std::vector<ULONG>{8000, 44100, 96000}));
    KsFormatBounds bounds;
    ASSERT_TRUE(captureFilter->GetFormatRange(bounds));
    EXPECT_EQ(bounds.minRate, 8000u);
    EXPECT_EQ(bounds.maxRate, 96000u);
    EXPECT_EQ(bounds.minBits, 16u);
    EXPECT_EQ(bounds.maxBits, 24u);
    EXPECT_EQ(bounds.maxChannels, 2u);
}

TEST_F(KsFilterTest, TopologyNodesCarryTheProductsControlsAndRecordWhatTheyAreTold)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    CKsAudCapFilter filter(hw, hw.usb.AudioEndpointPath(lumo.device, true), &table);
    ASSERT_EQ(filter.Open(), S_OK);
    ASSERT_EQ(filter.EnumerateNodes(), S_OK);
    const _sKnownDeviceRow& row = filter.knownDevice();
    const auto& nodes = filter.nodes();
    ASSERT_EQ(nodes.size(), 12u);  // Lumo A1's highest node id is 10
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i].nodeId, int32_t(i));
        EXPECT_EQ(nodes[i].channelCount, -1);
    }
    const int32_t volume = row.mixerNodeIds[kNodeInputVolume];
    EXPECT_TRUE(IsEqualGUID(nodes[volume].type, kKsNodeTypeVolume));
    EXPECT_TRUE(IsEqualGUID(nodes[row.mixerNodeIds[kNodeInputMuteClear]].type, kKsNodeTypeMute));
    EXPECT_TRUE(IsEqualGUID(nodes[row.mixerNodeIds[kNodeInputAgcOff]].type, kKsNodeTypeAgc));

    EXPECT_EQ(filter.SetNodeProperty(volume, 1, KSPROPERTY_AUDIO_VOLUMELEVEL, -512), S_OK);
    EXPECT_EQ(hw.ks.NodeValue(lumo.captureFilter, volume, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), -512);
    EXPECT_FALSE(hw.ks.NodeValue(lumo.captureFilter, volume, KSPROPERTY_AUDIO_VOLUMELEVEL, 0).has_value());
    EXPECT_TRUE(FAILED(filter.SetNodeProperty(volume, 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 0)));
    EXPECT_TRUE(FAILED(filter.SetNodeProperty(row.mixerNodeIds[kNodeInputMuteClear], 0, KSPROPERTY_AUDIO_AGC, 0)));

    // The volume range as the level controls read it: the description, then the whole answer.
    KSNODEPROPERTY request = {};
    request.Property.Set = kKsPropSetAudio;
    request.Property.Id = KSPROPERTY_AUDIO_VOLUMELEVEL;
    request.Property.Flags = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_TOPOLOGY;
    request.NodeId = volume;
    KSPROPERTY_DESCRIPTION description = {};
    DWORD bytes = 0;
    ASSERT_EQ(filter.SyncProperty(&request, sizeof(request), &description, sizeof(description), &bytes), S_OK);
    EXPECT_EQ(bytes, sizeof(description));
    std::vector<BYTE> whole(description.DescriptionSize + description.MembersListCount * 16);
    ASSERT_EQ(filter.SyncProperty(&request, sizeof(request), whole.data(), DWORD(whole.size()), &bytes), S_OK);
    const auto members = LoadAt<KSPROPERTY_MEMBERSHEADER>(whole.data(), sizeof(description));
    EXPECT_EQ(members.MembersCount, 2u);
    EXPECT_EQ(members.Flags, ULONG(KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL));
    const auto right = LoadAt<KSPROPERTY_STEPPING_LONG>(whole.data(), sizeof(description) + 16 + 16);
    EXPECT_LT(right.Bounds.SignedMinimum, right.Bounds.SignedMaximum);
}

TEST_F(KsFilterTest, RequestsCompletedLaterFromAnotherThreadReturnTheirBytes)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    hw.ks.SetCompletion(lumo.renderFilter, VirtualKsCompletion::Pending);
    CKsAudRenFilter filter(hw, hw.usb.AudioEndpointPath(lumo.device, false), &table);
    ASSERT_EQ(filter.Open(), S_OK);
    ASSERT_EQ(filter.EnumeratePins(), S_OK);
    ASSERT_EQ(filter.renderSinkPins().size(), 1u);
    const auto* pin = static_cast<const CKsAudPin*>(filter.renderSinkPins()[0]);
    EXPECT_EQ(pin->name(), L"Playback");
    ASSERT_EQ(pin->audioRanges().size(), 1u);
    EXPECT_EQ(pin->audioRanges()[0].MaximumSampleFrequency, 48000u);
    ASSERT_EQ(filter.EnumerateNodes(), S_OK);
    EXPECT_EQ(filter.nodes().size(), 12u);
    EXPECT_EQ(hw.ks.OutstandingRequests(), 0);
}

TEST_F(KsFilterTest, ARequestThatNeverCompletesIsCancelledAndDrainedBeforeItFails)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    CKsAudRenFilter filter(hw, hw.usb.AudioEndpointPath(lumo.device, false), &table);
    ASSERT_EQ(filter.Open(), S_OK);
    hw.ks.SetCompletion(lumo.renderFilter, VirtualKsCompletion::Never);
    filter.SetRequestTimeout(50);
    ULONG count = 0;
    DWORD bytes = 0;
    EXPECT_EQ(filter.GetPinProperty(0, KSPROPERTY_PIN_CTYPES, &count, sizeof(count), &bytes),
              HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    // Its cancellation had completed before it returned: nothing writes into its buffers later.
    EXPECT_EQ(hw.ks.OutstandingRequests(), 0);
    EXPECT_EQ(hw.ks.CancelledRequests(), 1);
    EXPECT_EQ(bytes, 0u);

    hw.ks.SetCompletion(lumo.renderFilter, VirtualKsCompletion::Immediate);
    EXPECT_EQ(filter.EnumeratePins(), S_OK);
}

// Replies whose counts and sizes lie are failed requests, never walked.
TEST_F(KsFilterTest, HostileRepliesAreRefused)
{
    using Edit = std::function<void(std::vector<BYTE>& reply, DWORD& claimed)>;
    const auto refusesPins = [](CKsAudRenFilter& filter) {
        EXPECT_EQ(filter.EnumeratePins(), E_FAIL);
        EXPECT_TRUE(filter.pins().empty());
    };
    const auto setCount = [](ULONG count) {
        return [count](std::vector<BYTE>& r, DWORD&) { StoreAt(r.data(), 4, count); };
    };
    const auto setFirstRangeSize = [](ULONG size) {
        return [size](std::vector<BYTE>& r, DWORD&) { StoreAt(r.data(), sizeof(KSMULTIPLE_ITEM), size); };
    };
    struct Case {
        const char* what;
        GUID set;
        ULONG id;
        Edit edit;
        std::function<void(CKsAudRenFilter&)> check;
    };
    const Case cases[] = {
        {"interface count past the list", kKsPropSetPin, KSPROPERTY_PIN_INTERFACES, setCount(1000), refusesPins},
        {"item size past the reply", kKsPropSetPin, KSPROPERTY_PIN_DATARANGES,
         [](std::vector<BYTE>& r, DWORD&) { StoreAt(r.data(), 0, ULONG(r.size() + 88)); }, refusesPins},
        {"range of size 0", kKsPropSetPin, KSPROPERTY_PIN_DATARANGES, setFirstRangeSize(0), refusesPins},
        {"range past the end", kKsPropSetPin, KSPROPERTY_PIN_DATARANGES, setFirstRangeSize(4096), refusesPins},
        {"huge size probe", kKsPropSetPin, KSPROPERTY_PIN_DATARANGES,
         [](std::vector<BYTE>&, DWORD& claimed) { claimed = 0x7FFFFFF0; }, refusesPins},
        {"short range ahead of a real one", kKsPropSetPin, KSPROPERTY_PIN_DATARANGES,
         [](std::vector<BYTE>& r, DWORD& claimed) {
             KSDATARANGE shortRange = LoadAt<KSDATARANGE>(r.data(), sizeof(KSMULTIPLE_ITEM));
             shortRange.FormatSize = sizeof(KSDATARANGE);
             const auto* raw = reinterpret_cast<const BYTE*>(&shortRange);
             r.insert(r.begin() + sizeof(KSMULTIPLE_ITEM), raw, raw + sizeof(shortRange));
             StoreAt(r.data(), 0, KSMULTIPLE_ITEM{ULONG(r.size()), 2});
             claimed = DWORD(r.size());
         },
         [](CKsAudRenFilter& filter) {
             ASSERT_EQ(filter.EnumeratePins(), S_OK);
             const auto& ranges = static_cast<CKsAudPin*>(filter.renderSinkPins()[0])->audioRanges();
             ASSERT_EQ(ranges.size(), 1u);
             EXPECT_EQ(ranges[0].MaximumChannels, 2u);
         }},
        {"name without terminator", kKsPropSetPin, KSPROPERTY_PIN_NAME,
         [](std::vector<BYTE>& r, DWORD& claimed) {
             r.assign(600, 'A');
             claimed = 519;
         },
         [](CKsAudRenFilter& filter) {
             ASSERT_EQ(filter.EnumeratePins(), S_OK);
             EXPECT_EQ(filter.renderSinkPins()[0]->name(), std::wstring(259, L'\x4141'));
         }},
        {"node count past the reply", kKsPropSetTopology, KSPROPERTY_TOPOLOGY_NODES, setCount(40),
         [](CKsAudRenFilter& filter) {
             EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);
             EXPECT_TRUE(filter.nodes().empty());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
        hw.ks.SetTamper(lumo.renderFilter, [&c](const KSPROPERTY& property, ULONG, std::vector<BYTE>& reply,
                                                DWORD& claimed) {
            if (IsEqualGUID(property.Set, c.set) && property.Id == c.id) c.edit(reply, claimed);
        });
        CKsAudRenFilter filter(hw, hw.usb.AudioEndpointPath(lumo.device, false), &table);
        ASSERT_EQ(filter.Open(), S_OK);
        c.check(filter);
    }
}

// A list that shrank between the size probe and the read still claims, in its header, the size
// the probe was told: what lies past the bytes that came back is no item of it.
TEST_F(KsFilterTest, AReplyShorterThanItsSizeProbeSaidIsRefused)
{
    VirtualKsPin pin = Pin(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    pin.interfaces.push_back({{kKsInterfaceSetStandard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0}});
    VirtualKsFilter model;
    model.path = L"\\\\?\\root#media#shrinking#{6994ad04-93ef-11d0-a3cc-00a0c9223196}";
    model.pins = {pin};
    const CVirtualKs::FilterId id = hw.ks.AddFilter(model);
    hw.ks.ShortenReads(id, kKsPropSetPin, KSPROPERTY_PIN_INTERFACES, sizeof(KSPIN_INTERFACE));
    CKsAudRenFilter filter(hw, model.path, nullptr);
    ASSERT_EQ(filter.Open(), S_OK);
    EXPECT_EQ(filter.EnumeratePins(), E_FAIL);
    EXPECT_TRUE(filter.pins().empty());

    // The whole list is taken.
    hw.ks.ShortenReads(id, kKsPropSetPin, KSPROPERTY_PIN_INTERFACES, 0);
    ASSERT_EQ(filter.EnumeratePins(), S_OK);
    ASSERT_EQ(filter.renderSinkPins().size(), 1u);
    EXPECT_EQ(filter.renderSinkPins()[0]->interfaces().size(), 2u);
}

}  // namespace
