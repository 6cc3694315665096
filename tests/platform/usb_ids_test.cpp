#include "platform/usb_ids.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using platform::UsbId;

TEST(UsbIds, ParsesListsFromOptionsVariablesAndFiles) {
    const struct {
        const char* text;
        std::vector<UsbId> ids;
    } good[] = {
        {"", {}},
        {"c0de:4200", {{0xC0DE, 0x4200}}},
        {"C0DE:4200,1234:abcd", {{0xC0DE, 0x4200}, {0x1234, 0xABCD}}},
        {" 0001:0002 ,, 0001:0002\n", {{0x0001, 0x0002}}},
        {"# navigators\n1234:5678  # the first one\r\n\t8765:4321\n# end",
         {{0x1234, 0x5678}, {0x8765, 0x4321}}},
    };
    for (const auto& c : good) {
        const auto ids = platform::ParseUsbIds(c.text);
        ASSERT_TRUE(ids) << c.text;
        EXPECT_EQ(*ids, c.ids) << c.text;
    }
    const struct {
        const char* text;
        const char* bad;
    } bad[] = {
        {"c0de", "c0de"},
        {"c0de:", "c0de:"},
        {":4200", ":4200"},
        {"c0de:42000", "c0de:42000"},
        {"1234:5678,xyz:1", "xyz:1"},
        {"12345:1", "12345:1"},
        {"1234;5678", "1234;5678"},
        {"1:2", "1:2"},
    };
    for (const auto& c : bad) {
        std::string item;
        EXPECT_FALSE(platform::ParseUsbIds(c.text, &item)) << c.text;
        EXPECT_EQ(item, c.bad);
    }
    EXPECT_EQ(platform::FormatUsbId({0xC0DE, 0x0042}), "c0de:0042");
}

class UsbIdSources : public ::testing::Test {
protected:
    std::string File(const std::string& name, const std::string& text) {
        return dir_.Write(name, text);
    }
    testsupport::ScratchDir dir_{"ids"};
};

TEST_F(UsbIdSources, TheFirstPresentSourceDecides) {
    const std::string user = File("user", "1111:1111\n");
    const std::string system = File("system", "2222:2222\n");
    const std::string emptyUser = File("empty", "# switched off\n");
    const std::string broken = File("broken", "3333\n");
    const std::string missing = dir_ / "missing";
    const struct {
        platform::UsbIdSources sources;
        std::vector<UsbId> ids;
        std::string source;
        bool error;
    } cases[] = {
        {{"4444:4444", "5555:5555", {user}}, {{0x4444, 0x4444}}, "--usb-ids", false},
        {{{}, "5555:5555", {user}}, {{0x5555, 0x5555}}, "CADDORA_USB_IDS", false},
        {{{}, {}, {missing, user, system}}, {{0x1111, 0x1111}}, user, false},
        {{{}, {}, {missing, system}}, {{0x2222, 0x2222}}, system, false},
        {{{}, {}, {emptyUser, system}}, {}, emptyUser, false},
        {{{}, {}, {broken, system}}, {}, broken, true},
        {{"", "5555:5555", {}}, {}, "--usb-ids", false},
        {{{}, {}, {missing}}, {}, "", false},
    };
    for (const auto& c : cases) {
        const auto resolved = platform::ResolveUsbIds(c.sources);
        EXPECT_EQ(resolved.ids, c.ids) << c.source;
        EXPECT_EQ(resolved.source, c.source);
        EXPECT_EQ(!resolved.error.empty(), c.error) << resolved.error;
    }
    EXPECT_NE(platform::ResolveUsbIds({{}, {}, {broken}}).error.find("\"3333\""),
              std::string::npos);
}

TEST(UsbIdFiles, UserFolderFromXdgOrHomeThenTheSystem) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::UsbIdFiles("/x", "/h"), (V{"/x/caddora/usb-ids", "/etc/caddora/usb-ids"}));
    EXPECT_EQ(platform::UsbIdFiles("relative", "/h"),
              (V{"/h/.config/caddora/usb-ids", "/etc/caddora/usb-ids"}));
    EXPECT_EQ(platform::UsbIdFiles("", "/h"),
              (V{"/h/.config/caddora/usb-ids", "/etc/caddora/usb-ids"}));
    EXPECT_EQ(platform::UsbIdFiles({}, {}), (V{"/etc/caddora/usb-ids"}));
}

}  // namespace
