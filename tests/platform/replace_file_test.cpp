// Whole-file writes: the target holds all the new bytes or is untouched, and no temporary file
// is left behind either way.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/replace_file.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

using testsupport::Slurp;

TEST(ReplaceFile, TargetIsWholeOrUntouchedAndNoTemporaryStays) {
    const testsupport::ScratchDir scratch("replace");
    const fs::path& dir = scratch.path();
    std::ofstream(dir / "old.gpx") << "earlier";
    fs::create_directory(dir / "folder.gpx");
    struct Case {
        const char* name;
        fs::path target;
        bool ok;
    };
    const Case cases[] = {
        {"new file", dir / "new.gpx", true},
        {"existing file replaced", dir / "old.gpx", true},
        {"a directory in the way", dir / "folder.gpx", false},
        {"missing folder", dir / "none" / "x.gpx", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_EQ(platform::ReplaceFile(c.target.string(), std::string("new\0bytes", 9), error),
                  c.ok);
        EXPECT_EQ(error.empty(), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(Slurp(c.target), std::string("new\0bytes", 9));
        }
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder.gpx"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.gpx"));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 3u);  // new.gpx, old.gpx, folder.gpx
}

}  // namespace
