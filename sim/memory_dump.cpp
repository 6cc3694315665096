#include "sim/memory_dump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sim {
namespace {

namespace fs = std::filesystem;

std::string RegionFileName(uint32_t address) {
    char name[32];
    std::snprintf(name, sizeof name, "region_%08X.bin", address);
    return name;
}

void WriteFile(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

void WriteMemoryDump(const std::string& dir, const DeviceModel& model) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create dump directory " + dir + ": " + ec.message());
    // Regions merge as writes arrive, so files of an earlier dump may no longer be regions.
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("region_") && name.ends_with(".bin")) fs::remove(entry.path(), ec);
    }
    std::ostringstream index;
    for (const auto& [address, bytes] : model.WrittenMemory().RegionMap()) {
        std::string file = RegionFileName(address);
        WriteFile(fs::path(dir) / file, bytes.data(), bytes.size());
        char line[64];
        std::snprintf(line, sizeof line, "%08X %zu ", address, bytes.size());
        index << line << file << '\n';
    }
    std::string text = index.str();
    WriteFile(fs::path(dir) / "regions.txt", text.data(), text.size());
    WriteFile(fs::path(dir) / "bootmem.bin", model.BootMemory().data(), model.BootMemory().size());
    std::ostringstream state;
    state << "mode=" << DeviceModeName(model.Mode()) << '\n'
          << "frames=" << model.FramesReceived() << '\n'
          << "bad_frames=" << model.BadFrames() << '\n'
          << "resets=" << model.ResetCount() << '\n'
          << "ymodem_requested=" << (model.YmodemRequested() ? 1 : 0) << '\n';
    text = state.str();
    WriteFile(fs::path(dir) / "state.txt", text.data(), text.size());
}

SparseMemory ReadMemoryDump(const std::string& dir) {
    std::ifstream index(fs::path(dir) / "regions.txt");
    if (!index) throw std::runtime_error("no memory dump in " + dir);
    SparseMemory memory;
    std::string line;
    while (std::getline(index, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string addressText;
        size_t length = 0;
        std::string file;
        if (!(fields >> addressText >> length >> file)) {
            throw std::runtime_error("broken line in regions.txt: " + line);
        }
        uint32_t address = static_cast<uint32_t>(std::stoul(addressText, nullptr, 16));
        std::ifstream in(fs::path(dir) / file, std::ios::binary);
        std::vector<uint8_t> bytes(length);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
        if (!in || in.gcount() != static_cast<std::streamsize>(length)) {
            throw std::runtime_error("short region file " + file);
        }
        memory.Write(address, bytes);
    }
    return memory;
}

void WriteJournalFile(const std::string& path, const std::vector<JournalEntry>& journal) {
    std::ofstream out(path, std::ios::trunc);
    for (const JournalEntry& e : journal) out << FormatJournalLine(e) << '\n';
    out.close();
    if (!out) throw std::runtime_error("cannot write journal " + path);
}

}  // namespace sim
