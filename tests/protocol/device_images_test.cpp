// Finding the owner-supplied patch program: the order of the places, the checks, and the
// stand-in that only an explicit permission lets through.
#include "protocol/device_images.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "protocol/patch_image.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "caddora-img-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::string Put(const std::string& name, const Bytes& bytes) const {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return (path / name).string();
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    fs::path path;
};

Bytes RealLooking(uint8_t seed) {
    Bytes b(kPatchImageLength);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

Bytes StandIn() {
    const auto s = PatchImageBytes();
    return Bytes(s.begin(), s.end());
}

TEST(DeviceImages, EachPlaceInItsOrderAndTheStandInOnlyWhenAllowed) {
    Folder f;
    const std::string option = f.Put("opt.bin", RealLooking(1));
    const std::string env = f.Put("env.bin", RealLooking(2));
    f.Put("config/caddora/patch_image.bin", RealLooking(3));
    f.Put("program/patch_image.bin", RealLooking(4));
    f.Put("data/caddora/patch_image.bin", RealLooking(5));
    f.Put("standin/patch_image.bin", StandIn());
    const auto all = images::ImageFolders(f / "config", f / "program", f / "data");
    const struct {
        const char* what;
        images::ImageSearch search;
        std::string source;      // empty: refused
        std::string lists = {};  // what a refusal says about where to put the file
    } cases[] = {
        {"option first", {option, env, all, false}, option},
        {"then the variable", {"", env, all, false}, env},
        {"then the user's folder", {"", "", all, false}, f / "config/caddora/patch_image.bin"},
        {"then the program's",
         {"", "", {f / "none", f / "program"}, false},
         f / "program/patch_image.bin"},
        {"then the system's",
         {"", "", images::ImageFolders("", "", f / "data"), false},
         f / "data/caddora/patch_image.bin"},
        {"nothing anywhere", {"", "", {f / "none"}, false}, ""},
        {"the refusal lists the folders searched",
         {"", "", {f / "a", "", f / "b", f / "c"}, false},
         "",
         " in " + f / "a" + ", " + f / "b" + " or " + f / "c" + " ("},
        {"stand-in refused", {"", "", {f / "standin"}, false}, ""},
        {"stand-in by option refused", {f / "standin/patch_image.bin", "", {}, false}, ""},
        {"stand-in allowed", {"", "", {f / "standin"}, true}, f / "standin/patch_image.bin"},
        {"built-in stand-in allowed", {"", "", {f / "none"}, true}, "stand-in"},
        {"a real file beats the allowed stand-in",
         {"", "", all, true},
         f / "config/caddora/patch_image.bin"},
    };
    for (const auto& c : cases) {
        const images::FoundImage found =
            images::FindDeviceImage(images::PatchImageKind(), c.search);
        EXPECT_EQ(found.ok() ? found.source : "", c.source) << c.what << ": " << found.refusal;
        if (found.ok()) {
            EXPECT_EQ(found.bytes.size(), kPatchImageLength) << c.what;
            EXPECT_EQ(found.standIn, found.bytes == StandIn()) << c.what;
        } else {
            EXPECT_NE(found.refusal.find("patch_image.bin"), std::string::npos) << found.refusal;
            EXPECT_NE(found.refusal.find("--patch-image"), std::string::npos) << found.refusal;
            EXPECT_NE(found.refusal.find(c.lists), std::string::npos) << found.refusal;
        }
    }
}

TEST(DeviceImages, ANamedFileThatIsWrongIsRefusedNotSkipped) {
    Folder f;
    f.Put("program/patch_image.bin", RealLooking(4));
    ASSERT_EQ(::mkfifo((f / "pipe.bin").c_str(), 0600), 0);
    const struct {
        const char* what;
        std::string file;
        const char* says;
    } cases[] = {
        {"short", f.Put("short.bin", Bytes(100, 1)), "100 bytes, not 14,604"},
        {"blank", f.Put("blank.bin", Bytes(kPatchImageLength, 0xFF)), "same"},
        {"missing", f / "missing.bin", "does not exist"},
        {"a pipe", f / "pipe.bin", "not a regular file"},
    };
    for (const auto& c : cases) {
        for (bool byOption : {true, false}) {
            images::ImageSearch search{
                byOption ? c.file : "", byOption ? "" : c.file, {f / "program"}, false};
            const auto found = images::FindDeviceImage(images::PatchImageKind(), search);
            EXPECT_FALSE(found.ok()) << c.what;
            EXPECT_NE(found.refusal.find(c.says), std::string::npos) << found.refusal;
            EXPECT_NE(found.refusal.find(byOption ? "given by --patch-image"
                                                  : "given by CADDORA_PATCH_IMAGE"),
                      std::string::npos)
                << found.refusal;
        }
    }
}

}  // namespace
