#include "transport/link_config.h"

#include <gtest/gtest.h>

#include <memory>

TEST(LinkConfig, EachOwnerMarksItsKindInTheCommonRecord) {
    ComConfigsWrapper com;
    UsbConfigsWrapper usb;
    LogConfigsWrapper log;
    DevConfigsWrapper plain;
    EXPECT_EQ(com.devConfigs->kind, 2);
    EXPECT_EQ(usb.devConfigs->kind, 4);
    EXPECT_EQ(log.devConfigs->kind, 1);
    EXPECT_EQ(plain.devConfigs->kind, 0);
    ASSERT_TRUE(com.comConfigs && usb.usbConfigs && log.logConfigs);
    // The owner's own record is separate from the common one and starts with empty texts.
    EXPECT_EQ(com.comConfigs->dev.kind, 0);
    EXPECT_TRUE(com.comConfigs->text1.empty() && com.comConfigs->text2.empty());
    EXPECT_TRUE(usb.usbConfigs->text1.empty() && log.logConfigs->dev.text1.empty());
}

TEST(LinkConfig, BrandNamesExistOnlyForHdAndVCom) {
    UsbConfigsWrapper w;
    w.devConfigs->brand = ReceiverBrand::HD;
    EXPECT_EQ(w.GetBrandName(), "HD");
    w.devConfigs->brand = ReceiverBrand::VCom;
    EXPECT_EQ(w.GetBrandName(), "V-Com");
    for (int32_t v : {1, 2, 3, 5, 7, -1}) {
        w.devConfigs->brand = static_cast<ReceiverBrand>(v);
        EXPECT_EQ(w.GetBrandName(), std::nullopt) << v;
    }
}

TEST(LinkConfig, DisposeReleasesBothRecordsThroughTheBase) {
    std::unique_ptr<DevConfigsWrapper> w = std::make_unique<ComConfigsWrapper>();
    auto* com = static_cast<ComConfigsWrapper*>(w.get());
    w->Dispose();
    EXPECT_EQ(com->comConfigs, nullptr);
    EXPECT_EQ(w->devConfigs, nullptr);
    EXPECT_EQ(w->GetBrandName(), std::nullopt);  // no record: no name
    w->Dispose();                                // a second disposal is harmless
}

TEST(LinkConfig, BaudListDefaultsTo115200) {
    EXPECT_EQ(ComConfigsWrapper::Baudlist.size(), 9u);
    EXPECT_EQ(ComConfigsWrapper::Baudlist[ComConfigsWrapper::BaudlistDefaultIndex], 115200);
    EXPECT_EQ(ComConfigsWrapper::Baudlist.front(), 1200);
    EXPECT_EQ(ComConfigsWrapper::Baudlist.back(), 460800);
}
