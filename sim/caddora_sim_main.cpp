// caddora-sim: a virtual navigator on a pseudo-terminal, linked into the device directory so
// that the tool finds it like a plugged-in device. Prints the device path, then "ready".
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "caddora_version.h"
#include "platform/settings.h"
#include "sim/pty_server.h"
#include "sim/ymodem_receiver.h"

namespace {

bool ParseHexBytes(const std::string& text, std::array<uint8_t, 4>& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.starts_with("0x") || digits.starts_with("0X")) digits.erase(0, 2);
    if (digits.size() != 8) return false;
    for (size_t i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Virtual CADDORA navigator. Serves the device on a pseudo-terminal linked into the\n"
        "device directory ($CADDORA_DEVICE_DIR, else /dev/caddora), prints the device path and\n"
        "a line \"ready\", and removes the link on SIGINT or SIGTERM. SIGUSR1 writes the memory\n"
        "dump at once; the journal is written as frames arrive. Frames are counted from 1 (good\n"
        "checksums only).",
        "caddora-sim"};
    app.get_formatter()->column_width(34);
    app.set_version_flag("--version", std::string("caddora-sim ") + kCaddoraVersion);

    std::string mode = "boot";
    std::string versionText;
    std::string pointsFile;
    bool samplePoints = true;
    size_t syntheticPoints = 0;
    bool emptyFlash = false;
    std::string spinorId;
    uint32_t flashSize = sim::SpiNorFlash::kDefaultSize;
    std::vector<uint32_t> nakFrames;
    uint32_t silentAfter = 0;
    uint32_t delayMs = 0;
    uint32_t ackDelayMs = 0;
    uint32_t split = 0;
    uint32_t splitGapMs = 5;
    uint32_t noise = 0;
    uint32_t vanishAfter = 0;
    uint64_t seed = 1;
    std::string journal;
    std::string dumpDir;
    std::string deviceDir;
    std::string name = "navigator0";

    app.add_option("--mode", mode, "What the device runs")
        ->check(CLI::IsMember({"boot", "patch", "normal"}))
        ->capture_default_str();
    app.add_option("--version-text", versionText,
                   "Version text of the starting mode instead of the default one");
    auto* optPoints =
        app.add_option("--points", pointsFile, "Point records from a text file (key=value;...)")
            ->check(CLI::ExistingFile);
    auto* optSample =
        app.add_flag("--sample-points", samplePoints, "The built-in sample points (the default)");
    auto* optSynthetic = app.add_option("--synthetic-points", syntheticPoints,
                                        "N generated points (4096 fill the default point area)");
    auto* optEmpty = app.add_flag("--empty-flash", emptyFlash, "No saved points: erased flash");
    optPoints->excludes(optSynthetic)->excludes(optEmpty)->excludes(optSample);
    optSynthetic->excludes(optEmpty)->excludes(optSample);
    optEmpty->excludes(optSample);
    app.add_option("--flash-size", flashSize, "SPI-NOR size in bytes")->capture_default_str();
    app.add_option("--spinor-id", spinorId, "The flash id, 4 bytes in hex (default C2201800)");
    app.add_option("--nak-frame", nakFrames, "Refuse frame K with ACK_NAK (repeatable)");
    auto* optSilent = app.add_option("--silent-after", silentAfter,
                                     "Answer only the first K frames, then hang (0: never answer)");
    app.add_option("--delay-ms", delayMs, "Answer every frame D ms late");
    auto* optAckDelay = app.add_option("--ack-delay-ms", ackDelayMs,
                                       "Answer acknowledgements D ms late (overrides --delay-ms)");
    app.add_option("--split", split, "Write each reply in pieces of N bytes");
    app.add_option("--split-gap-ms", splitGapMs, "Pause between the pieces of a split reply")
        ->capture_default_str();
    app.add_option("--noise", noise, "N random bytes (never F1 D9) before every reply");
    auto* optVanish = app.add_option("--vanish-after", vanishAfter,
                                     "Disappear after answering frame K (link removed, pty closed)")
                          ->check(CLI::PositiveNumber);
    app.add_option("--seed", seed, "Seed of the noise bytes")->capture_default_str();
    app.add_option("--journal", journal, "Write one line per received frame to FILE");
    app.add_option("--dump-dir", dumpDir,
                   "Write the memory dump into DIR when stopping (YMODEM files as they arrive)");
    app.add_option("--device-dir", deviceDir,
                   "Device directory (default $CADDORA_DEVICE_DIR or /dev/caddora)");
    app.add_option("--name", name, "Name of the link in the device directory")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }

    sim::SimConfig config;
    config.device.mode = *sim::ParseDeviceMode(mode);
    if (!versionText.empty()) config.device.versionText = versionText;
    config.device.flashSize = flashSize;
    try {
        if (!pointsFile.empty()) {
            config.device.points = sim::LoadPointsFile(pointsFile);
        } else if (emptyFlash) {
            config.device.points.clear();
        } else if (*optSynthetic) {
            config.device.points = sim::EncodePointRecords(sim::SyntheticPoints(syntheticPoints));
        }
    } catch (const std::exception& e) {
        std::cerr << "caddora-sim: " << e.what() << '\n';
        return 2;
    }
    if (!spinorId.empty() && !ParseHexBytes(spinorId, config.device.spinorId)) {
        std::cerr << "caddora-sim: --spinor-id needs 4 bytes in hex, e.g. FFFF0000\n";
        return 2;
    }
    sim::FaultConfig& faults = config.device.faults;
    faults.nakFrames = nakFrames;
    if (*optSilent) faults.silentAfter = silentAfter;
    faults.delayMs = delayMs;
    if (*optAckDelay) faults.ackDelayMs = ackDelayMs;
    faults.splitBytes = split;
    faults.splitGapMs = splitGapMs;
    faults.noiseBytes = noise;
    if (*optVanish) faults.vanishAfter = vanishAfter;
    faults.seed = seed;
    config.journalPath = journal;
    config.dumpDir = dumpDir;
    // After CFG_FWUP the device receives by YMODEM; complete files go to the dump folder.
    config.receiverFactory =
        sim::MakeYmodemReceiverFactory(std::make_shared<sim::YmodemStore>(dumpDir));
    config.deviceDir = platform::ResolveSettings(deviceDir).deviceDir;
    config.name = name;

    // Signals are taken by sigwait below; every thread inherits the blocked set.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The server's thread reports the vanish fault to the main thread as a process signal.
    config.onVanish = [] { kill(getpid(), SIGUSR2); };

    try {
        sim::SimServer server(std::move(config));
        std::string path = server.Start();
        std::cout << path << '\n' << "ready" << std::endl;
        std::cerr << "caddora-sim: serving " << server.SlavePath() << " as " << path << " (mode "
                  << mode << ")\n";
        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0) continue;
            if (sig == SIGUSR1) {
                if (!dumpDir.empty()) server.WriteDump(dumpDir);
                continue;
            }
            if (sig == SIGUSR2) std::cerr << "caddora-sim: device vanished\n";
            break;
        }
        server.Stop();
    } catch (const std::exception& e) {
        std::cerr << "caddora-sim: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
