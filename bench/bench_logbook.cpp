// The logbook's pace: adding a full navigator (4,096 points) in one import, listing the rounds
// of a logbook, and writing the report of 100 rounds. Targets: 0.2 s, 1 s, 1 s.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "export/export_point.h"
#include "logbook/logbook.h"
#include "logbook/report_html.h"
#include "logbook/round_list.h"

namespace {

namespace fs = std::filesystem;

// 100 rounds of 18 holes (about 41 points each): a shot every few minutes, putts at the end.
std::vector<mapexport::ExportPoint> Points(int count) {
    std::vector<mapexport::ExportPoint> points;
    for (int i = 0; i < count; ++i) {
        const int round = i / 41;
        const int inRound = i % 41;
        mapexport::ExportPoint p;
        p.gcid = 10000 + round % 7;
        p.golfCourseName = "富士見ヶ丘カントリー倶楽部";
        p.cid = inRound < 21 ? 1 : 2;
        p.courseName = p.cid == 1 ? "東コース" : "西コース";
        p.holeNo = 1 + inRound / 5 % 9;
        p.shotOrPutt = std::string(1, inRound % 5 >= 3 ? 'p' : 's');
        p.additionalNo = std::string(1, '0');
        p.local = {2010 + round / 12, 1 + round % 12,     1 + round % 28,
                   8 + inRound / 8,   (inRound * 7) % 60, inRound};
        p.utcOffset = 540;
        p.latitude = 35.36 + inRound * 0.0004;
        p.longitude = 138.73 + inRound * 0.0003;
        points.push_back(p);
    }
    return points;
}

struct TempLogbook {
    TempLogbook() {
        std::string pattern = (fs::temp_directory_path() / "caddora-bench-XXXXXX").string();
        if (mkdtemp(pattern.data())) dir = pattern;
    }
    ~TempLogbook() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string File(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

void BM_Add4096Points(benchmark::State& state) {
    const auto points = Points(4096);
    TempLogbook temp;
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path =
            temp.File(std::string("l").append(std::to_string(n++)).append(".sqlite3"));
        state.ResumeTiming();
        logbook::Logbook book(path);
        benchmark::DoNotOptimize(book.Add(points, "bench"));
    }
}
BENCHMARK(BM_Add4096Points)->Unit(benchmark::kMillisecond);

void BM_Rounds(benchmark::State& state) {
    TempLogbook temp;
    const std::string path = temp.File("l.sqlite3");
    logbook::Logbook(path).Add(Points(4096), "bench");
    for (auto _ : state) {
        logbook::Logbook book(path);
        benchmark::DoNotOptimize(logbook::GroupRounds(book.TimedPoints()));
    }
}
BENCHMARK(BM_Rounds)->Unit(benchmark::kMillisecond);

void BM_Report100Rounds(benchmark::State& state) {
    TempLogbook temp;
    const std::string path = temp.File("l.sqlite3");
    logbook::Logbook(path).Add(Points(4100), "bench");
    for (auto _ : state) {
        logbook::Logbook book(path);
        const auto rounds = logbook::GroupRounds(book.TimedPoints());
        if (rounds.size() != 100) state.SkipWithError("not 100 rounds");
        benchmark::DoNotOptimize(logbook::ReportHtml(rounds));
    }
}
BENCHMARK(BM_Report100Rounds)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
