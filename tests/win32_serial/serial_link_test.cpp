// The Win32 serial link against the virtual navigator on a Wine COM port. Run by
// scripts/test-windows-e2e.sh, which links the port and names it in CADDORA_TEST_COM_PORT.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "transport/serial_link.h"

namespace {

const uint8_t kVersionPoll[] = {0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};

std::string PortName() {
    const char* name = std::getenv("CADDORA_TEST_COM_PORT");
    return name ? name : "";
}

// Reads until `quietMs` pass without a byte (or 3 s in all).
std::vector<uint8_t> ReadReply(Com_Port& port, ComHandle handle, DWORD quietMs = 300) {
    std::vector<uint8_t> got;
    DWORD last = GetTickCount();
    const DWORD start = last;
    while (GetTickCount() - last < quietMs && GetTickCount() - start < 3000) {
        uint8_t buf[256];
        const int32_t n = port.ReadFrom_Com(handle, buf, sizeof buf);
        if (n < 0) break;
        if (n > 0) {
            got.insert(got.end(), buf, buf + n);
            last = GetTickCount();
        } else {
            Sleep(5);
        }
    }
    return got;
}

bool Contains(const std::vector<uint8_t>& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

}  // namespace

TEST(SerialLinkWin32, TalksToTheNavigatorAndDropsUnreadInputBeforeEachWrite) {
    ASSERT_FALSE(PortName().empty()) << "CADDORA_TEST_COM_PORT names the port";
    Com_Port port;
    ComHandle handle = port.Open_Com(PortName(), 115200);
    ASSERT_TRUE(handle);

    // Wine reports RTS control enabled whatever was set (it cannot drive the line of a pty), so
    // only the flow control is checked here.
    test_info lines{};
    lines.CtsFlow = true;
    port.GetTest_Com(lines, handle);
    EXPECT_FALSE(lines.CtsFlow);

    uint8_t none[16];
    EXPECT_EQ(port.ReadFrom_Com(handle, none, sizeof none), 0) << "a read never waits";

    ASSERT_TRUE(port.WriteTo_Com(handle, kVersionPoll, sizeof kVersionPoll));
    const auto reply = ReadReply(port, handle);
    EXPECT_TRUE(Contains(reply, "BOOT")) << reply.size() << " bytes";

    // A reply left unread is gone after the next write: only one reply comes back.
    ASSERT_TRUE(port.WriteTo_Com(handle, kVersionPoll, sizeof kVersionPoll));
    Sleep(500);
    ASSERT_TRUE(port.WriteTo_Com(handle, kVersionPoll, sizeof kVersionPoll));
    EXPECT_EQ(ReadReply(port, handle).size(), reply.size());
    port.Close_Com(handle);
}
