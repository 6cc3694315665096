#pragma once
// Reaches Main's private fields for tests that set up a state or check what a handler, a device
// check or a job left behind. Product code asks Main through its public functions.
//
//   Peer(main).FwType() = true;
//   EXPECT_EQ(Peer(main).filePath(), "/data/update.ckfm");
#include "app/main.h"

class MainTestPeer {
public:
    explicit MainTestPeer(Main& main) : m_(main) {}

    std::shared_ptr<Main::RefDevRunTimePara>& refDevData() { return m_.refDevData; }
    std::string& filePath() { return m_.filePath; }
    int32_t& kroType() { return m_.kroType; }
    int32_t& progressMax() { return m_.progressMax; }
    bool& deviceExistOld() { return m_.deviceExistOld; }
    bool& deviceExist() { return m_.deviceExist; }
    std::atomic<bool>& deviceCon() { return m_.deviceCon; }
    int32_t& type() { return m_.type; }
    bool& FwType() { return m_.FwType; }
    std::shared_ptr<FIFOStream>& SendPort() { return m_.SendPort; }
    Main::UpdateUI& UpdateProgressDelegate() { return m_.UpdateProgressDelegate; }
    Main::UpdateB& UpdateButtonDelegate() { return m_.UpdateButtonDelegate; }
    Main::UpdateE& ErrorShowDelegate() { return m_.ErrorShowDelegate; }
    bool& patchStatus() { return m_.patchStatus; }
    std::shared_ptr<transfer::Ymodem>& sendModem() { return m_.sendModem; }
    std::jthread& ModemTrd() { return m_.ModemTrd; }
    std::vector<uint8_t>& patchImage() { return m_.patchImage; }

private:
    Main& m_;
};

inline MainTestPeer Peer(Main& main) {
    return MainTestPeer(main);
}
