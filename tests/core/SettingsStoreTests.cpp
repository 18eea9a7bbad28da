#include <core/ChannelMap.h>
#include <core/SettingsStore.h>

#include "../support/RegistryScratch.h"
#include "../support/TestPorts.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";
const std::wstring kHostPath = kDriverKey + L"\\StoreTestHost\\Parameters";
const std::wstring kDefaultPath = kDriverKey + L"\\Default Parameters";

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\StoreTestHost");
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultPath);
    }
    static void StoreDword(const std::wstring& path, const wchar_t* name, DWORD value)
    {
        WriteRawValue(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, &value, sizeof(value));
    }
    static void StoreMultiSz(const std::vector<wchar_t>& data)
    {
        WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, L"PortOrders", REG_MULTI_SZ, data.data(),
                      static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    static std::vector<wchar_t> MultiSz(std::initializer_list<const wchar_t*> names, bool terminated = true)
    {
        std::vector<wchar_t> data;
        for (const wchar_t* name : names) {
            data.insert(data.end(), name, name + wcslen(name));
            data.push_back(L'\0');
        }
        if (terminated) {
            data.push_back(L'\0');
        } else {
            data.pop_back();
        }
        return data;
    }
    _sSettings Load(std::vector<_sPort>& ports, bool defaultDevicesOnly = false) const
    {
        _sSettings settings;
        int count = static_cast<int>(ports.size());
        store_.LoadSettings(count, ports.data(), settings, defaultDevicesOnly);
        EXPECT_EQ(count, static_cast<int>(ports.size()));
        return settings;
    }
    static std::vector<std::wstring> Names(const std::vector<_sPort>& ports)
    {
        std::vector<std::wstring> names;
        for (const _sPort& p : ports) names.push_back(p.name);
        return names;
    }

    const CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\bin\\StoreTestHost.exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    const CSettingsStore store_{hostKey_, defaultKey_};
};

TEST_F(SettingsStoreTest, DefaultsWhenNothingIsStored)
{
    std::vector<_sPort> none;
    const _sSettings s = Load(none);
    EXPECT_EQ(s.sampleType, ASIOSTInt32LSB);  // differs from the construction default on purpose
    EXPECT_EQ(s.preferredBufferSize, 512);
    EXPECT_EQ(s.latencyIn, 1);
    EXPECT_EQ(s.latencyOut, 2);
    EXPECT_EQ(s.outputBuffersMulti, 64);
    EXPECT_EQ(s.threadPriority, 15);
    EXPECT_EQ(s.inputPriority, -1);
    EXPECT_EQ(s.outputPriority, -1);
    EXPECT_EQ(s.endpointShareMode, 1);
    DWORD written = 0;
    ASSERT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kHostPath, L"AsioBuffSizePreferred", written));
    EXPECT_EQ(written, 512u);
}

TEST_F(SettingsStoreTest, HostValuesFallBackToDefaultParameters)
{
    std::vector<_sPort> none;
    StoreDword(kDefaultPath, L"Resolution", 16);
    StoreDword(kDefaultPath, L"AsioBuffSizePreferred", 256);
    StoreDword(kHostPath, L"Resolution", DWORD(-1));  // counts as no value
    _sSettings s = Load(none);
    EXPECT_EQ(s.sampleType, ASIOSTInt16LSB);
    EXPECT_EQ(s.preferredBufferSize, 256);
    EXPECT_EQ(s.useEndpointBackend, 1);
    StoreDword(kDefaultPath, L"UseEndpointBackend", 0);
    EXPECT_EQ(Load(none).useEndpointBackend, 0);
    StoreDword(kHostPath, L"UseEndpointBackend", 7);  // any non-zero value selects the endpoints
    EXPECT_EQ(Load(none).useEndpointBackend, 1);
    EXPECT_EQ(s.clockSync, 0);
    StoreDword(kDefaultPath, L"ClockSync", 1);
    EXPECT_EQ(Load(none).clockSync, 1);
    StoreDword(kHostPath, L"ClockSync", 2);  // only 1 turns it on; the host's value comes first
    EXPECT_EQ(Load(none).clockSync, 0);

    StoreDword(kHostPath, L"Resolution", 24);
    StoreDword(kHostPath, L"AsioBuffSizePreferred", 300);
    StoreDword(kHostPath, L"ASIOLatency_In", 4);
    StoreDword(kHostPath, L"ASIOLatency_Out", 2);
    StoreDword(kHostPath, L"EndpointShareMode", 9);
    s = Load(none);
    EXPECT_EQ(s.sampleType, ASIOSTInt24LSB);
    EXPECT_EQ(s.preferredBufferSize, 512);
    DWORD written = 0;
    ReadDwordValue(HKEY_LOCAL_MACHINE, kHostPath, L"AsioBuffSizePreferred", written);
    EXPECT_EQ(written, 512u);
    EXPECT_EQ(s.latencyOut, 4);
    EXPECT_EQ(s.endpointShareMode, 1);

    StoreDword(kHostPath, L"Resolution", 20);
    const wchar_t text[] = L"1024";
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, L"AsioBuffSizePreferred", REG_SZ, text, sizeof(text));
    s = Load(none);
    EXPECT_EQ(s.sampleType, ASIOSTInt16LSB);
    EXPECT_EQ(s.preferredBufferSize, 256);  // the text value is ignored, the default key's value counts
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeOpenedGivesDefaults)
{
    // Registry key names stop at 255 characters.
    const CSettingsKey unopenable(kVeloranDriverClsid, L"C:\\" + std::wstring(300, L'x') + L".exe");
    const CSettingsStore store(unopenable, defaultKey_);
    StoreDword(kDefaultPath, L"AsioBuffSizePreferred", 128);
    std::vector<_sPort> ports = {MakeTestPort(L"Lumo A2", 2, 2)};
    _sSettings s;
    int count = 1;
    store.LoadSettings(count, ports.data(), s, false);
    EXPECT_EQ(s.preferredBufferSize, 128);
    EXPECT_EQ(s.latencyIn, 1);
    EXPECT_EQ(store.SaveSettings(count, ports.data(), s), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey + L"\\" + std::wstring(300, L'x')));
}

TEST_F(SettingsStoreTest, StoredPortBlocksApplyAndMalformedOnesAreIgnored)
{
    std::vector<_sPort> ports = {MakeTestPort(L"A", 2, 2), MakeTestPort(L"B", 2, 2), MakeTestPort(L"C", 2, 2)};
    _sPortDirection stored = ports[0].input;
    stored.level[0] = 40;
    stored.dcRemoval[1] = 1;
    stored.monitor[0] = 1;
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, (L"Inp_" + ports[0].capturePath).c_str(), REG_BINARY, &stored,
                  sizeof(stored));

    // Too long: ignored. Four bytes: only "enabled" is replaced.
    std::vector<uint8_t> tooLong(200, 0);
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, (L"Inp_" + ports[1].capturePath).c_str(), REG_BINARY,
                  tooLong.data(), 200);
    const int32_t disabled = 0;
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, (L"Out_" + ports[1].renderPath).c_str(), REG_BINARY, &disabled,
                  sizeof(disabled));

    // Unterminated names and impossible levels are tamed.
    const std::vector<uint8_t> garbage(sizeof(_sPortDirection), 0x41);
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, (L"Inp_" + ports[2].capturePath).c_str(), REG_BINARY,
                  garbage.data(), static_cast<DWORD>(garbage.size()));
    const DWORD wrongType = 0;
    StoreDword(kHostPath, (L"Out_" + ports[2].renderPath).c_str(), wrongType);

    StoreMultiSz(MultiSz({L"A", L"B", L"C"}));
    Load(ports);
    EXPECT_EQ(ports[0].input.level[0], 40);
    EXPECT_EQ(ports[0].input.dcRemoval[1], 1);
    EXPECT_EQ(ports[0].input.monitor[0], 1);
    EXPECT_EQ(ports[1].input.level[0], 100);
    EXPECT_STREQ(ports[1].input.channelName[0], L"B - In L");
    EXPECT_EQ(ports[1].output.enabled, 0);
    EXPECT_EQ(ports[1].output.level[1], 100);
    EXPECT_EQ(wcsnlen(ports[2].input.channelName[0], 32), 31u);
    EXPECT_EQ(ports[2].input.level[0], 100);
    EXPECT_EQ(ports[2].output.enabled, 1);
}

TEST_F(SettingsStoreTest, PortOrdersDecideTheOrderWhenItNamesEveryPort)
{
    std::vector<_sPort> ports = {MakeTestPort(L"Lumo A2", 2, 2), MakeTestPort(L"Strym", 1, 0, true),
                                 MakeTestPort(L"Lumo A1", 2, 2)};
    ports[2].input.enabled = 0;
    StoreMultiSz(MultiSz({L"Strym", L"Lumo A1", L"Strym", L"Lumo A2"}));
    Load(ports);
    EXPECT_EQ(Names(ports), (std::vector<std::wstring>{L"Strym", L"Lumo A1", L"Lumo A2"}));
    EXPECT_EQ(ports[0].output.enabled, 0);  // no output channels
    EXPECT_EQ(ports[1].input.enabled, 0);   // kept as stored

    // Without terminators the list still reads to its end.
    std::vector<_sPort> again = {MakeTestPort(L"Lumo A2", 2, 2), MakeTestPort(L"Lumo A1", 2, 2)};
    StoreMultiSz(MultiSz({L"Lumo A1", L"Lumo A2"}, false));
    Load(again);
    EXPECT_EQ(Names(again), (std::vector<std::wstring>{L"Lumo A1", L"Lumo A2"}));
}

TEST_F(SettingsStoreTest, IncompletePortOrdersFallBackToTheSortedOrder)
{
    const struct {
        const char* what;
        std::vector<wchar_t> data;
    } cases[] = {
        {"an unknown port", MultiSz({L"Lumo A2 (2)", L"Gone", L"Lumo A2 (1)"})},
        {"a missing port", MultiSz({L"Lumo A2 (1)", L"Strym"})},
        {"an empty list", MultiSz({})},
    };
    for (const auto& c : cases) {
        std::vector<_sPort> ports = {MakeTestPort(L"Lumo A2 (1)", 2, 2), MakeTestPort(L"Strym", 1, 0, true),
                                     MakeTestPort(L"Lumo A2 (2)", 2, 2)};
        ports[1].input.enabled = 0;
        StoreMultiSz(c.data);
        Load(ports);
        EXPECT_EQ(Names(ports), (std::vector<std::wstring>{L"Lumo A2 (1)", L"Lumo A2 (2)", L"Strym"})) << c.what;
        // Sorting enables every direction that has channels.
        EXPECT_EQ(ports[2].input.enabled, 1) << c.what;
        EXPECT_EQ(ports[2].output.enabled, 0) << c.what;
    }

    // A value of another type counts as missing.
    const DWORD number = 3;
    StoreDword(kHostPath, L"PortOrders", number);
    std::vector<_sPort> ports = {MakeTestPort(L"Lumo A2", 2, 2), MakeTestPort(L"Lumo A2 (2)", 2, 2)};
    Load(ports);
    // The numbered unit sorts first: its key begins with "(".
    EXPECT_EQ(Names(ports), (std::vector<std::wstring>{L"Lumo A2 (2)", L"Lumo A2"}));
}

TEST_F(SettingsStoreTest, PortsSharingANameAreNotDuplicatedBySorting)
{
    std::vector<_sPort> ports = {MakeTestPort(L"Same", 2, 2), MakeTestPort(L"Other", 2, 2), MakeTestPort(L"Same", 2, 2)};
    ports[0].capturePath = L"first";
    ports[2].capturePath = L"second";
    Load(ports);
    EXPECT_EQ(Names(ports), (std::vector<std::wstring>{L"Other", L"Same", L"Same"}));
    EXPECT_EQ(ports[1].capturePath, L"first");
    EXPECT_EQ(ports[2].capturePath, L"second");
}

TEST_F(SettingsStoreTest, ChannelRulesApplyAfterOrdering)
{
    std::vector<_sPort> ports;
    for (int i = 0; i < 9; ++i) ports.push_back(MakeTestPort(L"Port " + std::to_wstring(i), 2, 2));
    Load(ports);
    const ChannelTotals totals = CountChannels(ports.data(), 9);
    EXPECT_EQ(totals.inputs, 16);
    EXPECT_EQ(totals.outputs, 16);
    EXPECT_EQ(ports[8].input.enabled, 0);
    EXPECT_EQ(ports[8].output.enabled, 0);
    EXPECT_EQ(ports[7].input.enabled, 1);

    // Everything disabled by the stored order: the first port with channels is switched back on.
    std::vector<_sPort> two = {MakeTestPort(L"In only", 1, 0), MakeTestPort(L"Both", 2, 2)};
    for (_sPort& p : two) p.input.enabled = p.output.enabled = 0;
    StoreMultiSz(MultiSz({L"In only", L"Both"}));
    Load(two);
    EXPECT_EQ(two[0].input.enabled, 1);
    EXPECT_EQ(two[1].input.enabled, 0);
    EXPECT_EQ(two[1].output.enabled, 1);
}

TEST_F(SettingsStoreTest, DefaultDevicesOnlyEnablesBothDirectionsOfTheSinglePort)
{
    const _sPort device = MakeTestPort(L"Def. Sound Device", 2, 2);
    _sPortDirection off = device.output;
    off.enabled = 0;
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, (L"Out_" + device.renderPath).c_str(), REG_BINARY, &off,
                  sizeof(off));
    StoreMultiSz(MultiSz({L"Def. Sound Device", L"Other"}));

    std::vector<_sPort> single = {device};
    Load(single, true);
    EXPECT_EQ(single[0].output.enabled, 1);

    // With a second port the stored choice stands.
    std::vector<_sPort> two = {device, MakeTestPort(L"Other", 2, 2)};
    Load(two, true);
    EXPECT_EQ(two[0].output.enabled, 0);
}

TEST_F(SettingsStoreTest, SavedSettingsLoadBack)
{
    std::vector<_sPort> ports = {MakeTestPort(L"Lumo A2", 2, 2), MakeTestPort(L"Strym", 1, 0, true),
                                 MakeTestPort(L"", 2, 2)};
    ports[0].output.level[1] = 55;
    ports[1].input.monoMix = 1;
    _sSettings saved;
    saved.sampleType = ASIOSTInt24LSB;
    saved.preferredBufferSize = 128;
    saved.latencyIn = 3;
    saved.latencyOut = 7;
    saved.inputPriority = -1;
    saved.threadPriority = 2;
    ASSERT_EQ(store_.SaveSettings(3, ports.data(), saved), 1);

    DWORD type = 0, size = 0;
    const std::wstring path = kHostPath;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | kSettingsView, &key), ERROR_SUCCESS);
    const LSTATUS read = RegQueryValueExW(key, L"PortOrders", nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    ASSERT_EQ(read, ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(size, 2u * ((7 + 1) + (5 + 1) + 1));  // the unnamed port is not listed
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\x"));

    std::vector<_sPort> fresh = {MakeTestPort(L"Strym", 1, 0, true), MakeTestPort(L"Lumo A2", 2, 2)};
    const _sSettings loaded = Load(fresh);
    EXPECT_EQ(Names(fresh), (std::vector<std::wstring>{L"Lumo A2", L"Strym"}));
    EXPECT_EQ(fresh[0].output.level[1], 55);
    EXPECT_EQ(fresh[1].input.monoMix, 1);
    EXPECT_EQ(loaded.sampleType, ASIOSTInt24LSB);
    EXPECT_EQ(loaded.preferredBufferSize, 128);
    EXPECT_EQ(loaded.latencyOut, 7);
    EXPECT_EQ(loaded.threadPriority, 2);
    EXPECT_EQ(loaded.inputPriority, -1);

    saved.sampleType = ASIOSTFloat32LSB;
    store_.SaveSettings(0, nullptr, saved);
    DWORD resolution = 0;
    ReadDwordValue(HKEY_LOCAL_MACHINE, kHostPath, L"Resolution", resolution);
    EXPECT_EQ(resolution, 32u);
}

TEST_F(SettingsStoreTest, OtherDevicesComeFromTheHostThenTheDefaultsWithoutTheMalformedEntries)
{
    const auto ids = [](const std::vector<OtherDevice>& devices) {
        std::vector<std::wstring> texts;
        for (const OtherDevice& d : devices) texts.push_back(FormatOtherDevice(d));
        return texts;
    };
    EXPECT_TRUE(store_.OtherDevices().empty());
    WriteMultiStringValue(HKEY_LOCAL_MACHINE, kDefaultPath, L"OtherDevices", {L"{d}"});
    EXPECT_EQ(ids(store_.OtherDevices()), std::vector<std::wstring>{L"{d}"});
    // A host value of another type is no value: the defaults stand.
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, L"OtherDevices", REG_SZ, L"{h}", 8);
    EXPECT_EQ(ids(store_.OtherDevices()), std::vector<std::wstring>{L"{d}"});

    const std::wstring tooLong(kMaxEndpointIdLength + 1, L'x');
    const std::vector<wchar_t> stored =
        MultiSz({L"{a}", L"", L"|{r}", L"{c}|", L"{a}|{b}|{c}", tooLong.c_str(), (L"{c}|" + tooLong).c_str(),
                 L"{c}|{r}", L"{m}#2", L"{m}#0", L"{m}#", L"{m}#33", L"{m}#3x", L"#3", L"{m}#1|{r}#7", L"{last}"},
                false);
    WriteRawValue(HKEY_LOCAL_MACHINE, kHostPath, L"OtherDevices", REG_MULTI_SZ, stored.data(),
                  DWORD(stored.size() * sizeof(wchar_t)));
    const std::vector<OtherDevice> devices = store_.OtherDevices();
    // "#1" is the first pair, written without it.
    EXPECT_EQ(ids(devices), (std::vector<std::wstring>{L"{a}", L"{c}|{r}", L"{m}|{r}#7", L"{last}"}));
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[1].endpointId, L"{c}");
    EXPECT_EQ(devices[1].renderId, L"{r}");
    EXPECT_EQ(devices[2].endpointFirstChannel, 0);
    EXPECT_EQ(devices[2].renderFirstChannel, 6);

    // An empty list of the host's own turns every chosen device off for it.
    WriteMultiStringValue(HKEY_LOCAL_MACHINE, kHostPath, L"OtherDevices", {});
    EXPECT_TRUE(store_.OtherDevices().empty());
}

TEST(SettingsDiffer, OnlyWhatNeedsAResetCounts)
{
    _sPort running[kMaxPorts];
    running[0] = MakeTestPort(L"Lumo A2", 2, 2);
    running[1] = MakeTestPort(L"Strym", 1, 0, true);
    const _sSettings runningSettings;
    const auto differs = [&](auto change) {
        _sPort ports[kMaxPorts];
        for (int i = 0; i < kMaxPorts; ++i) ports[i] = running[i];
        _sSettings settings = runningSettings;
        int count = 2;
        change(ports, settings, count);
        return SettingsDiffer(count, ports, settings, 2, running, runningSettings);
    };
    EXPECT_EQ(differs([](_sPort*, _sSettings&, int&) {}), 0);
    EXPECT_EQ(differs([](_sPort* p, _sSettings&, int&) {
                  p[0].input.level[0] = 10;
                  p[0].output.linked[0] = 0;
                  p[1].input.dcRemoval[0] = 1;
                  p[1].input.monoMix = 1;
                  p[1].input.monitor[1] = 1;
              }),
              0);
    EXPECT_EQ(differs([](_sPort*, _sSettings&, int& n) { n = 1; }), 1);
    EXPECT_EQ(differs([](_sPort* p, _sSettings&, int&) { p[1].name = L"Strym v3"; }), 1);
    EXPECT_EQ(differs([](_sPort* p, _sSettings&, int&) { p[0].output.enabled = 0; }), 1);
    EXPECT_EQ(differs([](_sPort* p, _sSettings&, int&) { p[1].input.monoToStereo = 0; }), 1);
    EXPECT_EQ(differs([](_sPort* p, _sSettings&, int&) { p[5].name = L"unused record"; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.preferredBufferSize = 256; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.sampleType = ASIOSTInt32LSB; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.outputPriority = 3; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.endpointShareMode = 2; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.clockSync = 1; }), 1);
    EXPECT_EQ(differs([](_sPort*, _sSettings& s, int&) { s.sampleRate = 48000; }), 0);
}

}  // namespace
