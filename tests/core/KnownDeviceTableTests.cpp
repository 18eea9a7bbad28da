#include <core/KnownDeviceTable.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>

namespace {

TEST(KnownDevices, DefaultDeviceRowIsTheLastFilledRow)
{
    const auto table = std::make_unique<CKnownDeviceTable>();
    ASSERT_EQ(table->count(), 17);
    const int last = table->DefaultRow();
    EXPECT_EQ(last, 16);
    EXPECT_TRUE(table->IsDefaultRow(16));
    EXPECT_FALSE(table->IsDefaultRow(15));
    const _sKnownDeviceRow& row = table->Row(last);
    EXPECT_STREQ(row.modelName, L"Default Audio Out");
    // No USB path carries vendor and product 0, so only the index reaches this row.
    EXPECT_EQ(row.vendorId, 0);
    EXPECT_EQ(row.productId, 0);
    EXPECT_EQ(row.imageAltIds[0], 3102);
    EXPECT_EQ(row.imageAltIds[1], 3103);
    for (int i = 0; i < last; ++i) EXPECT_EQ(table->Row(i).imageAltIds[0], 0) << i;
}

TEST(KnownDevices, OctaCodecsAreTellableApartOnlyByHubPortAndCompanion)
{
    const auto table = std::make_unique<CKnownDeviceTable>();
    for (int unit = 0; unit < 2; ++unit) {
        const int companion = unit == 0 ? 0x0022 : 0x0020;
        for (int codec = 0; codec < 4; ++codec) {
            const _sKnownDeviceRow& row = table->Row(3 + unit * 4 + codec);
            EXPECT_EQ(row.hubPort, codec + 1);
            EXPECT_EQ(row.productId, codec == 0 ? 0x2902 : 0x2900);
            EXPECT_EQ(row.hubVendorId, 0x1A40);
            EXPECT_EQ(row.hubProductId, 0x0201);
            EXPECT_EQ(row.companionProductId, companion);
            EXPECT_EQ(wcsncmp(row.modelName, L"Octa X ", 7), 0);
        }
    }
    // The hub-less Lumo A2 comes after the model with the internal hub, with the same ids.
    EXPECT_EQ(table->Row(1).vendorId, table->Row(2).vendorId);
    EXPECT_EQ(table->Row(1).productId, table->Row(2).productId);
    EXPECT_NE(table->Row(1).hubVendorId, 0);
    EXPECT_EQ(table->Row(2).hubVendorId, 0);
}

TEST(KnownDevices, UnfilledRowsKeepInitialValues)
{
    const auto table = std::make_unique<CKnownDeviceTable>();
    for (int i : {17, 100, 255}) {
        const _sKnownDeviceRow& row = table->Row(i);
        EXPECT_EQ(row.hubPort, -1);
        EXPECT_EQ(row.modelName[0], L'\0');
        for (int node : row.mixerNodeIds) EXPECT_EQ(node, -1);
    }
}

TEST(KnownDevices, ChannelRules)
{
    const auto table = std::make_unique<CKnownDeviceTable>();
    const int lumoA2 = 2, strym = 11, guitar = 12;
    EXPECT_EQ(table->ChannelsFor(lumoA2, Direction::Capture, 4), 2);  // a port has one stereo pair each way
    EXPECT_EQ(table->ChannelsFor(lumoA2, Direction::Render, 4), 2);
    EXPECT_EQ(table->ChannelsFor(strym, Direction::Capture, 1), 1);
    EXPECT_EQ(table->ChannelsFor(strym, Direction::Render, 2), 0);
    EXPECT_EQ(table->ChannelsFor(guitar, Direction::Capture, 2), 1);
    EXPECT_EQ(table->ChannelsFor(guitar, Direction::Render, 2), 0);  // inputOnly wins over the instrument's 1
    EXPECT_EQ(table->ChannelsFor(table->DefaultRow(), Direction::Render, 8), 2);
}

}  // namespace
