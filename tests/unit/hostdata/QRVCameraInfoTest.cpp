#include <gtest/gtest.h>

#include <stdexcept>

#include "QRVCameraInfo.h"

namespace {

TEST(QRVInfoArrays, AppendStoresIndependentCopiesAndAtChecksTheRange) {
    QRVCameraInfo info;
    info.SetID("sim-0001");
    info.SetModelName("SimCam \xE7\x9B\xB8\xE6\x9C\xBA");
    QRVCameraInfoArray list;
    list.Append(info);
    info.SetID("changed");
    list.Append(info);
    ASSERT_EQ(list.Length(), 2);
    EXPECT_EQ(list.At(0).GetID(), QRVString("sim-0001"));
    EXPECT_EQ(list.At(0).GetModelName(), QRVString("SimCam \xE7\x9B\xB8\xE6\x9C\xBA"));
    EXPECT_EQ(list.At(1).GetID(), QRVString("changed"));
    EXPECT_THROW(list.At(2), std::out_of_range);
    EXPECT_THROW(list.At(-1), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Length(), 0);
    EXPECT_THROW(list.At(0), std::out_of_range);

    CLServer server;
    server.SetServerName("COM1");
    server.PushDevice("cam-a");
    QRVCardInfo card;
    card.SetInterface(QRV_INTERFACE_CAMERALINK);
    card.Push(server);
    server.PushDevice("cam-b");  // not seen by the card's copy
    QRVCardInfoArray cards;
    cards.Append(card);
    card.SetInterface(QRV_INTERFACE_GENTL);
    ASSERT_EQ(cards.Length(), 1);
    EXPECT_EQ(cards.At(0).GetInterface(), QRV_INTERFACE_CAMERALINK);
    ASSERT_EQ(cards.At(0).GetServers().size(), 1u);
    EXPECT_EQ(cards.At(0).GetServers()[0].GetServerName(), QRVString("COM1"));
    EXPECT_EQ(cards.At(0).GetServers()[0].GetDevices().size(), 1u);
    EXPECT_THROW(cards.At(1), std::out_of_range);
}

}  // namespace
