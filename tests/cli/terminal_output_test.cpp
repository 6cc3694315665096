// The terminal side of caddora-cli: progress output, JSON lines, device modes, and the view's
// event loop and messages.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "cli/json_line.h"
#include "cli/progress_display.h"
#include "cli/terminal_view.h"

namespace cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ProgressLines, ThrottledToOneASecondWithRateAndTimeLeft) {
    std::ostringstream out;
    ProgressDisplay p(out, ProgressStyle::Lines, "frames");
    p.SetVisible(true, 0);
    p.SetMaximum(200, 0);
    for (int i = 1; i <= 200; ++i) p.Step(20 * static_cast<uint64_t>(i));
    p.SetVisible(false, 4000);
    const std::vector<std::string> expected = {
        "progress: frame 0 of 200 (0%)",
        "progress: frame 50 of 200 (25%), 50.0 frames/s, 0:03 left",
        "progress: frame 100 of 200 (50%), 50.0 frames/s, 0:02 left",
        "progress: frame 150 of 200 (75%), 50.0 frames/s, 0:01 left",
        "progress: frame 200 of 200 (100%), 50.0 frames/s, 0:00 left",
    };
    EXPECT_EQ(Lines(out.str()), expected);
}

TEST(ProgressLines, AGoingBackValueStartsANewRangeAndHidingShowsTheLastState) {
    std::ostringstream out;
    ProgressDisplay p(out, ProgressStyle::Lines, "records");
    p.SetVisible(true, 0);
    p.SetMaximum(10, 0);
    p.SetValue(10, 500);  // complete: shown at once
    p.SetValue(1, 600);   // a new range (the next chunk)
    p.SetValue(4, 900);   // within the second: held back
    p.SetVisible(false, 1100);
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u) << out.str();
    EXPECT_EQ(lines[1], "progress: record 10 of 10 (100%), 20.0 records/s, 0:00 left");
    // Three records in half a second since the range restarted at value 1.
    EXPECT_EQ(lines[2], "progress: record 4 of 10 (40%), 6.0 records/s, 0:01 left");
}

TEST(ProgressLines, ConcludeShowsWhereAJobEndedOnceWhenThatDiffers) {
    struct Case {
        const char* name;
        bool shownBefore;
        int32_t lastValue, lastMaximum;  // the last state shown before the end
        int32_t value, maximum;          // where the job ended
        std::vector<std::string> added;  // lines Conclude adds
    };
    const std::vector<Case> cases = {
        {"stopped at an erased record",
         true,
         298,
         4096,
         299,
         299,
         {"progress: 299 records in all"}},
        {"already shown", true, 299, 299, 299, 299, {}},
        {"never shown", false, 0, 0, 5, 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        ProgressDisplay p(out, ProgressStyle::Lines, "records");
        if (c.shownBefore) {
            p.SetVisible(true, 0);
            p.SetMaximum(c.lastMaximum, 0);
            p.SetValue(c.lastValue, 0);
            p.SetVisible(false, 1000);
        }
        const size_t before = Lines(out.str()).size();
        p.Conclude(c.value, c.maximum, 1000);
        const auto lines = Lines(out.str());
        EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                           lines.end()),
                  c.added);
    }
}

TEST(ProgressBar, RedrawsInPlaceAndEndsItsLineWhenHidden) {
    std::ostringstream out;
    ProgressDisplay p(out, ProgressStyle::Bar, "frames");
    p.SetVisible(true, 0);
    p.SetMaximum(4, 0);
    p.Step(1000);
    p.Step(2000);
    p.SetVisible(false, 2000);
    const std::string text = out.str();
    EXPECT_NE(text.find("\r\033[K[###############...............] 50%  2/4 frames  1.0 frames/s  "
                        "0:02 left"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST(ProgressJson, OneObjectPerLine) {
    std::ostringstream out;
    ProgressDisplay p(out, ProgressStyle::Json, "frames");
    p.SetVisible(true, 0);
    p.SetMaximum(2, 0);
    p.Step(500);
    p.Step(1000);
    const auto lines = Lines(out.str());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "{\"type\":\"progress\",\"value\":2,\"maximum\":2,\"percent\":100,\"rate\":2.000,"
              "\"unit\":\"frames\",\"seconds_left\":0}");
}

TEST(ProgressDuration, MinutesAndHours) {
    EXPECT_EQ(ProgressDisplay::FormatDuration(0), "0:00");
    EXPECT_EQ(ProgressDisplay::FormatDuration(61), "1:01");
    EXPECT_EQ(ProgressDisplay::FormatDuration(3723), "1:02:03");
}

TEST(Json, StringsAreEscapedAndUtf8PassesThrough) {
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("x\0y\r\n", 5)), "\"x\\u0000y\\r\\n\"");
    EXPECT_EQ(JsonString("完了"), "\"完了\"");
    EXPECT_EQ(JsonLine().Add("ok", true).Add("n", int64_t{-3}).Add("s", "t").Str(),
              "{\"ok\":true,\"n\":-3,\"s\":\"t\"}");
}

TEST(Json, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xE9", "\"caf\\ufffd\""},                  // Latin-1
        {"\xE5\xAE", "\"\\ufffd\\ufffd\""},             // cut short
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},             // overlong '/'
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // surrogate
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},   // four bytes, kept
        {"a\x7F", "\"a\\u007f\""},                      // DEL is a control character
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(JsonString(in), out) << out;
}

class TerminalViewTest : public ::testing::Test {
protected:
    TerminalView::Options Opts(bool json = false) {
        TerminalView::Options o;
        o.out = &out_;
        o.err = &err_;
        o.json = json;
        o.fileAnswer = "/data/fw.ckfm";
        o.settings[Setting::textUpLen] = "200";
        return o;
    }
    std::ostringstream out_, err_;
};

TEST_F(TerminalViewTest, MessagesBecomeLinesErrorsOnStderr) {
    TerminalView view(Opts());
    view.ShowMessage("Error!", "Error", MessageIcon::Error);
    view.ShowMessage("データの書込みが完了しました。", "", MessageIcon::None);
    EXPECT_EQ(err_.str(), "Error: Error!\n");
    EXPECT_EQ(out_.str(), "データの書込みが完了しました。\n");
    EXPECT_EQ(view.Messages().size(), 2u);
}

TEST_F(TerminalViewTest, ChunkedFramesShowOneBarForTheWholeFile) {
    // Known length: the file's frames from the start; unknown: the runs add up.
    for (const int64_t known : {int64_t{700}, int64_t{0}}) {
        SCOPED_TRACE(known);
        err_.str("");
        TerminalView::Options o = Opts();
        o.wholeFileFrames = known;
        TerminalView view(o);
        view.SetProgressVisible(true);
        view.SetProgressMaximum(15);  // the patch program's frames come first, as they are
        view.SetProgressValue(14);
        view.SetProgressRange(512, 1);
        for (int i = 0; i < 512; ++i) view.StepProgress();
        view.SetProgressRange(188, 1);
        for (int i = 0; i < 100; ++i) view.StepProgress();
        view.SetProgressVisible(false);
        const auto lines = Lines(err_.str());
        ASSERT_GE(lines.size(), 2u) << err_.str();
        EXPECT_TRUE(lines.back().starts_with("progress: frame 612 of 700 (87%)")) << err_.str();
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find("/188 "), std::string::npos) << "a bar per chunk: " << line;
        }
    }
}

// Each plain line names what it counts, without the rate and time left (they depend on the
// clock).
std::vector<std::string> Counts(const std::string& text) {
    std::vector<std::string> counts;
    for (const std::string& line : Lines(text)) counts.push_back(line.substr(0, line.find(", ")));
    return counts;
}

TEST_F(TerminalViewTest, PlainLinesSayWhatTheyCountAndStartWithTheRightTotal) {
    {
        SCOPED_TRACE("points from the boot loader: the patch program's frames come first");
        TerminalView::Options o = Opts();
        o.unit = "records";
        o.subject = ProgressSubject{"points", "record", true, true};
        TerminalView view(o);
        view.SetProgressVisible(true);
        // As the window logic reports them: the index of the frame or record just done.
        view.SetProgressStage(ProgressStage::PatchProgram);
        for (int32_t i = 0; i < 15; ++i) {
            view.SetProgressMaximum(15);
            view.SetProgressValue(i);
        }
        view.SetProgressStage(ProgressStage::Job);
        for (int32_t i = 0; i < 7; ++i) {
            view.SetProgressMaximum(4096);
            view.SetProgressValue(i);
        }
        view.SetProgressVisible(false);
        JobResult result;
        result.job = JobKind::PointImport;
        result.outcome = JobOutcome::Done;
        result.points.resize(7);
        view.JobEnded(result);
        const std::vector<std::string> expected = {
            "patch program: frame 1 of 15 (6%)", "patch program: frame 15 of 15 (100%)",
            "points: record 1 of at most 4096",  "points: record 7 of at most 4096",
            "points: 7 records in all",
        };
        EXPECT_EQ(Counts(err_.str()), expected) << err_.str();
    }
    {
        SCOPED_TRACE("YMODEM: nothing before the file's size is known");
        err_.str("");
        TerminalView::Options o = Opts();
        o.unit = "bytes";
        o.subject = ProgressSubject{"firmware by YMODEM", "byte"};
        TerminalView view(o);
        view.SetProgressVisible(true);
        view.SetProgressValue(0);
        view.SetProgressMaximum(100000);
        view.SetProgressValue(0);
        view.SetProgressValue(100000);
        view.SetProgressVisible(false);
        const std::vector<std::string> expected = {
            "firmware by YMODEM: 0 of 100000 bytes (0%)",
            "firmware by YMODEM: 100000 of 100000 bytes (100%)",
        };
        EXPECT_EQ(Counts(err_.str()), expected) << err_.str();
    }
}

TEST_F(TerminalViewTest, JsonMessagesAndSettingsAndTheFileAnswer) {
    TerminalView view(Opts(true));
    view.ShowMessage("Incorrect checksum", "Error", MessageIcon::Error);
    EXPECT_EQ(out_.str(),
              "{\"type\":\"message\",\"text\":\"Incorrect checksum\",\"caption\":\"Error\","
              "\"icon\":\"error\"}\n");
    EXPECT_TRUE(err_.str().empty());
    EXPECT_EQ(view.SettingText(Setting::textUpLen), "200");
    EXPECT_EQ(view.SettingText(Setting::textUpAddr), "0");
    EXPECT_EQ(view.SettingText(Setting::textBoxPathKro), "2622d");
    EXPECT_EQ(view.AskOpenFile({"ckfm", "Packed Firmware Files|*.ckfm", ""}), "/data/fw.ckfm");
    EXPECT_EQ(view.FileRequests().at(0).filter, "Packed Firmware Files|*.ckfm");
}

TEST_F(TerminalViewTest, TheLoopRunsPostsInOrderUntilTheJobEnds) {
    TerminalView view(Opts());
    std::vector<int> order;
    const auto self = std::this_thread::get_id();
    bool allHere = true;
    std::atomic<bool> alive{true};
    std::thread job([&] {
        for (int i = 0; i < 100; ++i) {
            view.Post([&, i] {
                order.push_back(i);
                allHere = allHere && std::this_thread::get_id() == self;
            });
        }
        alive = false;
        view.Post([&] { view.JobEnded(JobResult{}); });
    });
    view.RunUntilJobEnd([&] { return alive.load(); });
    job.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_TRUE(allHere);
}

TEST_F(TerminalViewTest, AJobThatNeverPostsItsEndStillEndsTheLoop) {
    TerminalView view(Opts());
    const auto start = std::chrono::steady_clock::now();
    view.RunUntilJobEnd([] { return false; });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

}  // namespace
}  // namespace cli
