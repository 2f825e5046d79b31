// The program as a user runs it, from its folder.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <chrono>
#include <csignal>
#include <functional>
#include <random>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "rain/PointRain.h"
#include "tests/report/BiffReader.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

class Program : public test::AppFolder {
protected:
    // Runs the program with these arguments and shell redirections. No input
    // may make it hang: a run still going after ten seconds is killed and
    // fails the test.
    static Outcome Run(const std::string& arguments)
    {
        const std::string command =
            std::string("exec '") + QUORVEL_BATCH_PROGRAM + "' " + arguments + " >stdout.txt 2>stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int raw = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(pid, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &raw, 0);
                ADD_FAILURE() << "still running after 10 s: " << arguments;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = test::ReadText("stdout.txt");
        outcome.err = test::ReadText("stderr.txt");
        std::filesystem::remove("stdout.txt");
        std::filesystem::remove("stderr.txt");
        return outcome;
    }
};

const std::string kGood = "id,East,North\nA,2400000,5100000\nB,2385123.5,5100001.5\n";

TEST_F(Program, ExitStatusSaysHowTheRunWent)
{
    test::WriteText("good.csv", kGood);
    test::WriteText("mixed.csv", kGood + "C,2300000,5100000\n");

    const Outcome good = Run("good.csv");
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.err, "");
    EXPECT_TRUE(good.out.starts_with(std::string(kResultsHeader) + "\nA,2400000,5100000,140,181,"));

    const Outcome mixed = Run("mixed.csv");
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.err, "");
    EXPECT_TRUE(mixed.out.ends_with(
        "\nC,2300000,5100000,,,,,,,,,,,,,,,\"outside the parameter grids (row 140, column -19)\"\n"))
        << mixed.out;

    for (const std::string arguments : {"missing.csv", "", "good.csv extra.csv", "good.csv -o", "good.csv --bogus",
                                        "good.csv -o a.csv -o b.csv"}) {
        const Outcome refused = Run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_EQ(refused.out, "") << arguments;
        EXPECT_TRUE(refused.err.starts_with("quorvel-batch: ")) << arguments << ": " << refused.err;
    }

    test::WriteText("empty.csv", "");
    const Outcome empty = Run("empty.csv");
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.out, "");
    EXPECT_NE(empty.err.find("empty.csv: empty file"), std::string::npos) << empty.err;

    std::filesystem::remove("grd/param_a1.hdr");
    const Outcome noGrid = Run("good.csv -o results.csv");
    EXPECT_EQ(noGrid.status, 2);
    EXPECT_EQ(noGrid.err, "quorvel-batch: file not found: grd/param_a1.hdr (No such file or directory)\n");
    EXPECT_FALSE(std::filesystem::exists("results.csv"));
}

// Endless inputs, and files that would block the open, end the run at once
// with an error naming the file (and the line), leaving the earlier results.
TEST_F(Program, EndlessOrBlockingInputsEndWithAnError)
{
    namespace fs = std::filesystem;
    test::WriteText("good.csv", kGood);
    test::WriteText("long.csv", kGood + std::string(kMaxLineBytes + 1, 'x') + "\n");
    test::WriteText("quote.csv", "id,East,North\n\"A,2400000,5100000\nB,2400000,5100000\n");
    test::WriteText("programs/prototipo/pioggeTRNprot.xls", test::ReadText(QUORVEL_REPORT_TEMPLATE));
    fs::copy("grd", "grd.good", fs::copy_options::recursive);
    const auto fifo = [](const char* path) {
        fs::remove(path);
        ASSERT_EQ(::mkfifo(path, 0600), 0) << path;
    };
    const struct {
        std::string arguments;
        std::function<void()> breakage;
        std::string error;
    } cases[] = {
        {"/dev/zero", {}, "bad file format: /dev/zero (line 1 is longer than 1 MiB)"},
        {"- </dev/zero", {}, "bad file format: standard input (line 1 is longer than 1 MiB)"},
        {"long.csv", {}, "bad file format: long.csv (line 4 is longer than 1 MiB)"},
        {"quote.csv", {}, "bad file format: quote.csv (line 2: a quote is still open at the end of the line)"},
        {"good.csv",
         [] {
             fs::remove("grd/param_a1.hdr");
             fs::create_symlink("/dev/zero", "grd/param_a1.hdr");
         },
         "grd/param_a1.hdr (not a regular file)"},
        {"good.csv", [&] { fifo("grd/param_a2.hdr"); }, "grd/param_a2.hdr (not a regular file)"},
        {"good.csv", [&] { fifo("grd/param_cv.ras"); }, "grd/param_cv.ras (not a regular file)"},
        {"good.csv --reports reports", [&] { fifo("programs/prototipo/pioggeTRNprot.xls"); },
         "programs/prototipo/pioggeTRNprot.xls (not a regular file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove_all("grd");
        fs::copy("grd.good", "grd", fs::copy_options::recursive);
        if (c.breakage)
            c.breakage();
        test::WriteText("results.csv", "earlier\n");
        const Outcome run = Run(c.arguments + " -o results.csv");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(test::ReadText("results.csv"), "earlier\n");
        EXPECT_FALSE(fs::exists("reports") && !fs::is_empty("reports"));
    }
}

// The results never replace the points, by whatever name the points file is
// given; they replace an earlier results file whole, hold what standard output
// shows, and through a dangling link create the file it names.
TEST_F(Program, ResultsNeverReplaceThePoints)
{
    namespace fs = std::filesystem;
    test::WriteText("points.csv", kGood);
    fs::create_directory("sub");
    fs::create_hard_link("points.csv", "hard.csv");
    fs::create_symlink("points.csv", "link.csv");
    fs::create_symlink("made.csv", "dangling.csv");
    for (const std::string arguments : {"points.csv -o points.csv", "points.csv -o ./sub/../points.csv",
                                        "points.csv -o link.csv", "link.csv -o hard.csv",
                                        "- -o points.csv <points.csv", "points.csv --output=hard.csv"}) {
        const Outcome refused = Run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_NE(refused.err.find("is the points file"), std::string::npos) << arguments << ": " << refused.err;
        EXPECT_EQ(test::ReadText("points.csv"), kGood) << arguments;
        EXPECT_TRUE(fs::is_symlink("link.csv"));
    }

    test::WriteText("results.csv", "earlier");
    const Outcome toOutput = Run("- <points.csv");
    EXPECT_EQ(toOutput.status, 0);
    for (const std::string results : {"results.csv", "dangling.csv"}) {
        const Outcome toFile = Run("points.csv -o " + results);
        EXPECT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(test::ReadText(results), toOutput.out) << results;
    }
    EXPECT_TRUE(fs::is_symlink("dangling.csv"));
    EXPECT_EQ(test::ReadText("made.csv"), toOutput.out);
    EXPECT_EQ(test::ReadText("points.csv"), kGood);
    for (const auto& entry : fs::directory_iterator("."))
        EXPECT_FALSE(entry.path().filename().string().starts_with("results.csv.")) << entry.path();
}

TEST_F(Program, HelpInEnglishAndItalian)
{
    for (const std::string arguments : {"--help", "-h", "points.csv --help"}) {
        const Outcome help = Run(arguments);
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.starts_with(
            "Usage: quorvel-batch POINTS.csv [-o RESULTS.csv] [--reports DIR] [--folder DIR]\n"));
        EXPECT_NE(help.out.find("\nUso: quorvel-batch PUNTI.csv [-o RISULTATI.csv] [--reports CARTELLA]\n"),
                  std::string::npos);
        EXPECT_EQ(help.err, "");
    }
}

TEST_F(Program, FolderOptionReadsTheGridsThereAndTheFilesHere)
{
    test::WriteText("points.csv", kGood);
    const Outcome inFolder = Run("points.csv");
    ASSERT_EQ(inFolder.status, 0);
    const std::filesystem::path folder = std::filesystem::current_path();
    std::filesystem::create_directory("elsewhere");
    std::filesystem::current_path("elsewhere");
    test::WriteText("points.csv", kGood);
    struct Case {
        std::string arguments;
        int status;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {"points.csv -o results.csv --folder ..", 0, ""},
             {"--cartella=" + folder.string() + " points.csv -o results.csv", 0, ""},
             {"--folder=.. -o results.csv --cartella .. points.csv", 2, "quorvel-batch: --folder given twice\n"},
             {"points.csv -o results.csv --cartella missing", 2,
              "quorvel-batch: file not found: missing/grd/param_a2.hdr (No such file or directory)\n"},
         }) {
        std::filesystem::remove("results.csv");
        const Outcome run = Run(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_TRUE(run.err.starts_with(c.err)) << c.arguments << ": " << run.err;
        if (c.status == 0) {
            EXPECT_EQ(test::ReadText("results.csv"), inFolder.out) << c.arguments;
        }
    }
    std::filesystem::current_path(folder);
}

// Cells C6 F6 C7 F7 B10 B13:H13 of each report's first sheet, as xlrd reads them.
std::vector<std::vector<double>> ReportCellsRead(const std::vector<std::string>& paths)
{
    std::string command = std::string(QUORVEL_PYTHON) +
        " -c 'import sys, xlrd\n"
        "for path in sys.argv[1:]:\n"
        "    s = xlrd.open_workbook(path).sheet_by_index(0)\n"
        "    cells = [(5, 2), (5, 5), (6, 2), (6, 5), (9, 1)] + [(12, c) for c in range(1, 8)]\n"
        "    print(*[repr(s.cell_value(r, c)) if s.cell_type(r, c) == xlrd.XL_CELL_NUMBER else \"x\"\n"
        "            for r, c in cells])\n' ";
    for (const std::string& path : paths)
        command += "'" + path + "' ";
    command += ">cells.txt";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::istringstream lines(test::ReadText("cells.txt"));
    std::vector<std::vector<double>> reports;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<double> values;
        for (std::string word; words >> word;) {
            double value = NAN;
            std::from_chars(word.data(), word.data() + word.size(), value);
            values.push_back(value);
        }
        reports.push_back(values);
    }
    return reports;
}

TEST_F(Program, ReportsHoldTheNumbersOfTheirRows)
{
    test::WriteText("programs/prototipo/pioggeTRNprot.xls", test::ReadText(QUORVEL_REPORT_TEMPLATE));
    test::WriteText("points.csv", kGood + "C,2300000,5100000\nD,2410000.25,5090000.5\n");
    const Outcome run = Run("points.csv -o results.csv --reports reports");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");

    const std::vector<GaussBoagaPoint> points = {{2400000, 5100000}, {2385123.5f, 5100001.5f},
                                                 {2410000.25f, 5090000.5f}};
    const auto cells = ReportCellsRead({"reports/A.xls", "reports/B.xls", "reports/D.xls"});
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_FALSE(std::filesystem::exists("reports/C.xls"));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PointRain rain = ComputePointRain(points[i]);
        const auto q = rain.quantiles.InOrder();
        const std::vector<double> expected = {
            std::nearbyint(double(points[i].x)), std::nearbyint(double(points[i].y)),
            double(rain.centre.x), double(rain.centre.y), double(rain.a2),
            double(q[0]), double(q[1]), double(q[2]), double(q[3]), double(q[4]), double(q[5]), double(q[6])};
        EXPECT_EQ(cells[i], expected) << i;
    }
    // 2385123.5 and 5100001.5 round to their even neighbours.
    EXPECT_EQ(cells[1][0], 2385124.0);
    EXPECT_EQ(cells[1][1], 5100002.0);
}

// Interrupted while it waits for more points on its input, the program takes
// its unfinished results file away with it.
TEST_F(Program, InterruptedRunLeavesNoResultsFile)
{
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::close(input[0]);
        ::close(input[1]);
        ::execl(QUORVEL_BATCH_PROGRAM, QUORVEL_BATCH_PROGRAM, "-", "-o", "results.csv", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    const std::string rows = "id,East,North\nA,2400000,5100000\n";
    ASSERT_EQ(::write(input[1], rows.data(), rows.size()), ssize_t(rows.size()));

    const auto unfinished = [] {
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().starts_with("results.csv."))
                return true;
        return false;
    };
    for (int i = 0; i < 1000 && !unfinished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(unfinished()) << "the run never started its results file";

    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_FALSE(unfinished());
    EXPECT_FALSE(std::filesystem::exists("results.csv"));
}

// A template no report can be made from ends the run before its first row,
// with one line saying why, and nothing written.
TEST_F(Program, UnusableTemplateStopsTheRunAtStart)
{
    const test::Bytes stream = test::WorkbookStream(test::ReadFileBytes(QUORVEL_REPORT_TEMPLATE));
    const auto records = test::ReadBiff(stream);
    const auto row = std::find_if(records.begin(), records.end(),
                                  [](const test::BiffRecord& r) { return r.type == 0x0208; });
    ASSERT_NE(row, records.end());
    test::Bytes shortRow = stream;  // the ROW cut to no data, its bytes a record of their own
    const test::Bytes header = test::Le16({0, 0x0000, std::uint32_t(row->data.size() - 4)});
    std::copy(header.begin(), header.end(), shortRow.begin() + row->offset + 2);

    const std::vector<std::pair<const char*, test::Bytes>> templates = {
        {"empty", {}},
        {"not a compound file", {'i', 'd', ',', 'E', 'a', 's', 't'}},
        {"no Workbook stream", test::MakeCompoundFile({{"Book", stream}})},
        {"a short record", test::MakeCompoundFile({{"Workbook", shortRow}})},
    };
    test::WriteText("points.csv", kGood);
    for (const auto& [what, bytes] : templates) {
        test::WriteText("programs/prototipo/pioggeTRNprot.xls", std::string(bytes.begin(), bytes.end()));
        const Outcome run = Run("points.csv -o results.csv --reports reports");
        EXPECT_EQ(run.status, 2) << what;
        EXPECT_EQ(run.out, "") << what;
        EXPECT_TRUE(run.err.starts_with("quorvel-batch: bad file format: programs/prototipo/pioggeTRNprot.xls ("))
            << what << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists("results.csv")) << what;
        EXPECT_FALSE(std::filesystem::exists("reports")) << what;
    }
}

// Interrupted at random moments among its reports, the program takes the
// report and the results file it is writing away with it.
TEST_F(Program, InterruptedReportsLeaveNoTemporaries)
{
    test::WriteText("programs/prototipo/pioggeTRNprot.xls", test::ReadText(QUORVEL_REPORT_TEMPLATE));
    std::string points = "id,East,North\n";
    for (int i = 0; i < 5000; ++i)
        points += "P" + std::to_string(i) + ",2400000,5100000\n";
    test::WriteText("points.csv", points);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 40000);  // microseconds after the reports folder appears
    const int interruptions[] = {SIGINT, SIGTERM, SIGHUP};
    for (int round = 0; round < 12; ++round) {
        std::filesystem::remove_all("reports");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(QUORVEL_BATCH_PROGRAM, QUORVEL_BATCH_PROGRAM, "points.csv", "-o", "results.csv", "--reports",
                    "reports", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 10000 && !std::filesystem::exists("reports"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        const int signal = interruptions[round % 3];
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "round " << round << ", seed " << seed;
        for (const std::string folder : {".", "reports"})
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                EXPECT_FALSE(name.starts_with(".quorvel-report-") || name.starts_with("results.csv"))
                    << name << ", round " << round << ", seed " << seed;
            }
    }
}

}  // namespace
}  // namespace quorvel::batch
