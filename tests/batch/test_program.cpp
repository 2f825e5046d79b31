// The program as a user runs it, from its folder: what only the whole program
// shows, its exit status, its arguments, its check of a folder and its refusals of hostile files.
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "batch/Csv.h"
#include "rain/SampleMark.h"
#include "tests/batch/BatchFixture.h"

namespace quorvel::batch {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the program with these arguments and shell redirections. No input may
// make it hang: a run still going after ten seconds is killed, and its status
// (137) is none the tests expect.
Outcome RunProgram(const std::string& arguments)
{
    const std::string command = std::string("timeout -s KILL 10 '") + QUORVEL_BATCH_PROGRAM + "' " + arguments +
                                " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadText("stdout.txt"), test::ReadText("stderr.txt")};
}

const std::string kGood = "id,East,North\nA,2400000,5100000\nB,2385123.5,5100001.5\n";
const std::string kTemplate = "programs/prototipo/pioggeTRNprot.xls";

// The sample region as a tree of links in the folder "copy": a fault replaces
// one link by a file of its own, so the sample itself is never touched.
void LinkSampleRegion()
{
    for (const auto& entry : fs::recursive_directory_iterator(QUORVEL_APP_DIR)) {
        const fs::path target = "copy" / fs::relative(entry.path(), QUORVEL_APP_DIR);
        if (entry.is_directory())
            fs::create_directories(target);
        else
            fs::create_symlink(entry.path(), target);
    }
}

void ReplaceInCopy(const std::string& relative, const std::string& bytes)
{
    fs::remove("copy/" + relative);
    test::WriteText("copy/" + relative, bytes);
}

void Swap(const std::string& one, const std::string& other)
{
    fs::rename(one, one + ".swap");
    fs::rename(other, one);
    fs::rename(one + ".swap", other);
}

// UTM zone 33 north, as ESRI software writes a .prj: metres too, but not Gauss-Boaga.
constexpr const char* kUtm33Prj =
    "PROJCS[\"WGS_1984_UTM_Zone_33N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\","
    "6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",15.0],PARAMETER[\"Scale_Factor\",0.9996],"
    "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";

class Program : public test::AppFolder {
protected:
    void SetUp() override
    {
        AppFolder::SetUp();
        test::WriteText("good.csv", kGood);
        test::WriteText(kTemplate, test::ReadText(QUORVEL_REPORT_TEMPLATE));
    }
};

// A run that cannot be done ends with status 2 and says why on standard error; it writes nothing,
// and an earlier results file stays as it was. Endless inputs and files that would block the open
// are such runs. Other runs say nothing on standard error.
TEST_F(Program, ExitStatusAndWhyARunIsRefused)
{
    test::WriteText("mixed.csv", kGood + "C,2300000,5100000\n");
    test::WriteText("empty.csv", "");
    test::WriteText("blank.csv", "\r\n\r\n");
    test::WriteText("noid.csv", "name,x,y\n1,2400000,5100000\n");
    test::WriteText("twice.csv", "id,East,East,North\n");
    test::WriteText("long.csv", kGood + std::string(kMaxLineBytes + 1, 'x') + "\n");
    test::WriteText("quote.csv", "id,East,North\n\"A,2400000,5100000\nB\",2400000,5100000\n");
    fs::create_directory("sub");
    fs::create_hard_link("good.csv", "hard.csv");
    fs::create_symlink("good.csv", "link.csv");
    const auto fifo = [](const std::string& path) {
        fs::remove(path);
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    };
    const auto templateOf = [](const std::string& bytes) { return [bytes] { test::WriteText(kTemplate, bytes); }; };
    const struct {
        std::string arguments;
        int status;
        std::string said;  // a part of standard error with status 2, otherwise of standard output
        std::function<void()> breakage = {};
    } cases[] = {
        {"good.csv", 0, std::string(kResultsHeader) + std::string(kDataHeader) + "\nA,2400000,5100000,140,181,"},
        // Started with standard input closed, as a service may start it: the points' file is then descriptor 0.
        {"good.csv <&-", 0, std::string(kResultsHeader) + std::string(kDataHeader) + "\nA,2400000,5100000,140,181,"},
        {"mixed.csv", 1, "\nC,2300000,5100000,,,,,,,,,,,,,,,\"outside the parameter grids (row 140, column -19)\",\n"},
        {"--help", 0, "Usage: quorvel-batch POINTS.csv [-o RESULTS.csv] [--reports DIR] [--pdf DIR]\n"},
        {"-h", 0, "\nUso: quorvel-batch PUNTI.csv [-o RISULTATI.csv] [--reports CARTELLA]\n"},
        // The check of a folder finds each fault of a copy of the sample region
        // and says whether the folder can be used.
        // The sample's grids are never "in order"; changed ones no longer carry the sample's mark.
        {"--verifica '" QUORVEL_APP_DIR "'", 0, ": Dati di esempio sintetici – non usare per la progettazione.\n"},
        {"--verifica copy", 0, ": tutto in ordine, la cartella è utilizzabile.\n",
         [] {
             std::string values = test::ReadText("copy/grd/param_cv.ras");
             ReplaceInCopy("grd/param_cv.ras", values.replace(0, 1, 1, char(values[0] ^ 1)));
         }},
        {"--verifica copy", 1, "ERRORE Shp/V_PROVINCEpoly.shx: manca\nNOTA   .: 27 file necessari su 28 presenti",
         [] { fs::remove("copy/Shp/V_PROVINCEpoly.shx"); }},
        {"--verifica copy", 1, "(EPSG:32633) e non in Gauss-Boaga fuso Est (EPSG:3004)\n",
         [] { ReplaceInCopy("Shp/V_ISPETTORATI.prj", kUtm33Prj); }},
        {"--verifica copy", 1, "ERRORE dat/comuniPolyRid.dat: 218 righe invece di 219",
         [] {
             std::string table = test::ReadText("copy/dat/comuniPolyRid.dat");
             ReplaceInCopy("dat/comuniPolyRid.dat", table.erase(table.rfind("\r\n", table.size() - 3) + 2));
         }},
        {"--verifica copy", 0, "il programma usa Raster/demTRNSh.tif\n",
         [] {
             fs::rename("copy/Raster/demTRNSh.ecw", "copy/Raster/demTRNSh.tif");
             ReplaceInCopy("Raster/demTRNSh.ecw", "ECW bytes this GDAL cannot read");
         }},
        {"--verifica copy", 0, "Raster/demTRNSh.tif: 2049 x 1300 pixel, senza piramidi (il programma le costruisce",
         [] {
             ASSERT_EQ(std::system("gdal_translate -q -outsize 2049 1300 copy/Raster/demTRNSh.ecw copy/Raster/demTRNSh.tif"), 0);
             ReplaceInCopy("Raster/demTRNSh.ecw", "ECW bytes this GDAL cannot read");
         }},
        // In one land cell a1 = 0, which is no data, and cv = 0, which is data: no growth with the return period.
        {"--verifica copy", 0, "10474 celle senza dato su 93860\nOK     grd/param_cv.ras: 361 colonne, 260 righe, 10473",
         [] {
             for (const std::string grid : {"a1", "cv"}) {
                 std::string values = test::ReadText("copy/grd/param_" + grid + ".ras");
                 ReplaceInCopy("grd/param_" + grid + ".ras", values.replace(((140 - 1) * 361 + 180) * 4, 4, 4, '\0'));
             }
         }},
        // Data in one cell alone: its rain is the whole range.
        {"--verifica copy", 0,
         "OK     grd: 0 celle con dati che non danno una pioggia valida; q2 da 22.72 mm a 22.72 mm, q200 da 86.33 "
         "mm a 86.33 mm\n",
         [] {
             std::string values = test::ReadText("copy/grd/param_a1.ras");
             const std::size_t kept = ((140 - 1) * 361 + 180) * 4;
             ReplaceInCopy("grd/param_a1.ras", std::string(kept, '\0') + values.substr(kept, 4) +
                                                   std::string(values.size() - kept - 4, '\0'));
         }},
        {"--verifica copy", 1, "ERRORE grd/param_cv.ras: Input oltre la fine del file: copy/grd/param_cv.ras\n",
         [] { ReplaceInCopy("grd/param_cv.ras", "short"); }},
        // Grids swapped by mistake hold numbers of the right sign: their rain shows what they are.
        {"--verifica copy", 1, "ERRORE grd: 83387 celle con dati che non danno una pioggia valida; q2 da -",
         [] { Swap("copy/grd/param_a1.ras", "copy/grd/param_cv.ras"); }},
        {"--verifica copy", 1,
         "ERRORE Shp/V_ISPETTORATI.shp: GDAL non lo apre: Shp/V_ISPETTORATI.cpg non è un file regolare",
         [&] { fifo("copy/Shp/V_ISPETTORATI.cpg"); }},
        {"--verifica copy", 1, "ERRORE dat/comuniPolyRid.dat: salvata in UTF-8 (",
         [] {
             ASSERT_EQ(std::system("iconv -f LATIN1 -t UTF-8 copy/dat/comuniPolyRid.dat >utf8.dat"), 0);
             ReplaceInCopy("dat/comuniPolyRid.dat", test::ReadText("utf8.dat"));
         }},
        {"--verifica copy", 1, "ERRORE dat/comuniPolyRid.dat: più grande di 1 MiB",
         [] { ReplaceInCopy("dat/comuniPolyRid.dat", std::string((1 << 20) + 1, ' ')); }},
        {"--verifica copy", 1, "32767 x 32767 valori, più di 256 MiB",
         [] { ReplaceInCopy("grd/param_a2.hdr", "ncols 32767\r\nnrows 32767\r\n\r\n"); }},
        {"--verifica copy", 1, "ERRORE " + kTemplate + ": Formato del file non valido: copy/" + kTemplate +
                                   "\npiù grande di 16 MiB",
         [] {
             ReplaceInCopy(kTemplate, "");
             fs::resize_file("copy/" + kTemplate, (16 << 20) + 1);
         }},
        {"--verifica copy", 1, "ERRORE " + kTemplate + ": Formato del file non valido", [] { ReplaceInCopy(kTemplate, "-"); }},
        // Saved with "precision as shown": the PRECISION record of its globals says 0.
        {"--verifica copy", 0, "NOTA   " + kTemplate + ": salvato con l'opzione «precisione come visualizzato»",
         [] {
             std::string bytes = test::ReadText(QUORVEL_REPORT_TEMPLATE);
             const std::size_t precision = bytes.find(std::string("\x0E\x00\x02\x00\x01\x00", 6));
             ASSERT_NE(precision, std::string::npos);
             bytes[precision + 4] = 0;
             ReplaceInCopy(kTemplate, bytes);
         }},
        {"--verifica copy", 1, "gdal_translate -of COG demTRNSh.ecw demTRNSh.tif",
         [] { ReplaceInCopy("Raster/demTRNSh.ecw", "ECW bytes this GDAL cannot read"); }},
        // The depth-duration law is said with its range, and the template's table checked against it.
        {"--verifica copy", 0,
         "OK     dat/durate.txt: legge h(d) = h1 · d^a2, d in ore, da 10 min a 24 h; sotto l'ora esponente 0.5 da "
         "10 min\nOK     " + kTemplate + ": tabella delle durate (24 durate): 168 celle uguali alla legge\n"},
        {"--verifica copy", 0, "NOTA   dat/durate.txt: manca: nessuna legge delle durate, solo le altezze di 1 ora\n",
         [] { fs::remove("copy/dat/durate.txt"); }},
        {"--verifica copy", 1, "ERRORE dat/durate.txt: Formato del file non valido: copy/dat/durate.txt\nchiave sconosciuta",
         [] { ReplaceInCopy("dat/durate.txt", "law=power\nhours_from=1\nhours_to=24\nexponent=0.3\n"); }},
        {"--verifica copy", 1,
         "ERRORE " + kTemplate + ": la tabella delle durate non segue la legge di dat/durate.txt nelle celle "
         "A30 (durata fuori dalla legge) A31 (durata",
         [] { ReplaceInCopy("dat/durate.txt", "law=power\nhours_from=1\nhours_to=13\n"); }},
        {"", 2, "no points file given"},
        {"missing.csv", 2, "missing.csv"},
        {"good.csv extra.csv", 2, "more than one points file: extra.csv"},
        {"good.csv -o", 2, "-o needs a value"},
        {"good.csv --bogus", 2, "unknown option --bogus"},
        {"good.csv -o a.csv -o b.csv", 2, "-o given twice"},
        {"--folder=.. -o results.csv --cartella .. good.csv", 2, "--folder given twice"},
        {"good.csv -o results.csv --cartella missing", 2,
         "quorvel-batch: file not found: missing/grd/param_a2.hdr (No such file or directory)\n"},
        {"sub -o results.csv", 2, "sub (a folder, not a file)"},
        {"empty.csv -o results.csv", 2, "empty.csv: empty file"},
        {"blank.csv -o results.csv", 2, "blank.csv: empty file"},
        {"noid.csv -o results.csv", 2, "noid.csv: the first line must name the columns id, East and North"},
        {"twice.csv -o results.csv", 2, "the column East is named twice in the first line"},
        {"/dev/zero -o results.csv", 2, "bad file format: /dev/zero (line 1 is longer than 1 MiB)"},
        {"- -o results.csv </dev/zero", 2, "bad file format: standard input (line 1 is longer than 1 MiB)"},
        {"long.csv -o results.csv", 2, "bad file format: long.csv (line 4 is longer than 1 MiB)"},
        {"quote.csv -o results.csv", 2,
         "bad file format: quote.csv (line 2: a quote is still open at the end of the line)"},
        {"good.csv -o results.csv", 2, "grd/param_a1.hdr (not a regular file)",
         [] {
             fs::remove("grd/param_a1.hdr");
             fs::create_symlink("/dev/zero", "grd/param_a1.hdr");
         }},
        {"good.csv -o results.csv", 2, "grd/param_a2.hdr (not a regular file)", [&] { fifo("grd/param_a2.hdr"); }},
        {"good.csv -o results.csv", 2, "grd/param_cv.ras (not a regular file)", [&] { fifo("grd/param_cv.ras"); }},
        {"good.csv -o results.csv --reports reports", 2, kTemplate + " (not a regular file)", [&] { fifo(kTemplate); }},
        // A template no report can be made from ends the run before its first row.
        {"good.csv -o results.csv --reports reports", 2, "file not found: " + kTemplate, [] { fs::remove(kTemplate); }},
        {"good.csv -o results.csv --reports reports", 2, "bad file format: " + kTemplate + " (", templateOf("")},
        {"good.csv -o results.csv --reports reports", 2, "bad file format: " + kTemplate + " (",
         templateOf("id,East")},
        {"good.csv -o results.csv --reports reports", 2, "bad file format: " + kTemplate + " (larger than 16 MiB)",
         [] { fs::resize_file(kTemplate, (16 << 20) + 1); }},
        {"good.csv -o results.csv", 2, "bad file format: grd/param_cv.hdr (32767 x 32767 values, more than 256 MiB)",
         [] { test::WriteText("grd/param_cv.hdr", "ncols 32767\r\nnrows 32767\r\n\r\n"); }},
        {"good.csv", 1,
         "\"the parameters of the cell give no valid rainfall (row 140, column 181: a2 = 0.39, a1 = 0.307, "
         "cv = 29.05 give q2 = -",
         [] { Swap("grd/param_a1.ras", "grd/param_cv.ras"); }},
        // The results never replace the points, by whatever name the points file is given.
        {"good.csv -o good.csv", 2, "would replace the points file good.csv"},
        {"good.csv -o ./sub/../good.csv", 2, "would replace the points file good.csv"},
        {"good.csv -o link.csv", 2, "would replace the points file good.csv"},
        {"link.csv -o hard.csv", 2, "would replace the points file link.csv"},
        {"- -o good.csv <good.csv", 2, "would replace the points file standard input"},
        {"good.csv --output=hard.csv", 2, "would replace the points file good.csv"},
        {"good.csv -o -h", 2, "-o needs a value, not the option -h (a file of that name is ./-h)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove_all("copy");
        if (c.arguments == "--verifica copy")
            LinkSampleRegion();
        fs::remove_all("grd");
        WriteGrids();
        fs::remove(kTemplate);
        test::WriteText(kTemplate, test::ReadText(QUORVEL_REPORT_TEMPLATE));
        if (c.breakage)
            c.breakage();
        test::WriteText("results.csv", "earlier\n");
        const Outcome run = RunProgram(c.arguments);
        EXPECT_EQ(run.status, c.status);
        if (c.status == 2) {
            EXPECT_TRUE(run.err.starts_with("quorvel-batch: ")) << run.err;
            EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_FALSE(fs::exists("reports"));
        } else {
            EXPECT_EQ(run.err, "");
            EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
            // One fault, one error: the others must not be dragged along.
            if (c.arguments == "--verifica copy" && c.status == 1) {
                EXPECT_NE(run.out.find(": 1 errore, "), std::string::npos) << run.out;
            }
        }
        EXPECT_EQ(test::ReadText("results.csv"), "earlier\n");
        EXPECT_EQ(test::ReadText("good.csv"), kGood);
        EXPECT_TRUE(fs::is_symlink("link.csv"));
        for (const auto& entry : fs::directory_iterator("."))
            EXPECT_FALSE(entry.path().filename().string().starts_with("results.csv.")) << entry.path();
    }
}

// No output replaces a file the run reads, by any name: the results are refused
// before anything is read, a report only on its row. The inputs stay as they were.
TEST_F(Program, OutputsNeverReplaceInputs)
{
    test::WriteText("named.csv", "id,East,North\npioggeTRNprot,2400000,5100000\nparam_a1,2400000,5100000\n");
    fs::create_hard_link("grd/param_a2.ras", "hard.ras");
    fs::create_symlink("grd/param_cv.hdr", "link.hdr");
    const struct {
        std::string arguments;
        int status;
        std::string said;  // a part of standard error with status 2, otherwise of standard output
    } cases[] = {
        {"good.csv -o grd/param_a1.ras", 2, "the results file grd/param_a1.ras would replace grd/param_a1.ras, which"},
        {"good.csv -o grd/param_a1.hdr", 2, "would replace grd/param_a1.hdr, which the run reads"},
        {"good.csv -o hard.ras", 2, "the results file hard.ras would replace grd/param_a2.ras"},
        {"good.csv -o link.hdr", 2, "the results file link.hdr would replace grd/param_cv.hdr"},
        {"good.csv -o " + kTemplate, 2, "would replace " + kTemplate + ", which the run reads"},
        {"named.csv -o results.csv --reports programs/prototipo", 1,
         "\npioggeTRNprot,2400000,5100000,,,,,,,,,,,,,,,\"report not written: it would replace " + kTemplate +
             ", which the run reads\",\n"},
    };
    const std::string grids = test::ReadText("grd/param_a1.ras") + test::ReadText("grd/param_a1.hdr") +
                              test::ReadText("grd/param_a2.ras") + test::ReadText("grd/param_cv.hdr");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome run = RunProgram(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((c.status == 2 ? run.err : run.out + test::ReadText("results.csv")).find(c.said), std::string::npos)
            << run.err << run.out;
        EXPECT_EQ(test::ReadText("grd/param_a1.ras") + test::ReadText("grd/param_a1.hdr") +
                      test::ReadText("grd/param_a2.ras") + test::ReadText("grd/param_cv.hdr"),
                  grids);
        EXPECT_EQ(test::ReadText(kTemplate), test::ReadText(QUORVEL_REPORT_TEMPLATE));
    }
    EXPECT_TRUE(fs::exists("programs/prototipo/param_a1.xls"));
}

// Beside each report, a PDF sheet with the same numbers, which a PDF reader
// gives back as text; a sheet that cannot be written fails its row.
TEST_F(Program, PdfSheetOfEachPoint)
{
    test::WriteText("points.csv", kGood + "A,2400000,5100000\n");
    const Outcome run = RunProgram("points.csv -o results.csv --reports reports --pdf sheets");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::exists("reports/A.xls"));
    const test::Records rows = test::ReadCsv("results.csv");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3][17], "report not written: the id is already used on line 2");
    for (const auto& [id, fields] : {std::pair{"A", rows[1]}, {"B", rows[2]}}) {
        ASSERT_EQ(std::system(("pdftotext sheets/" + std::string(id) + ".pdf sheet.txt").c_str()), 0);
        const std::string text = test::ReadText("sheet.txt");
        // The seven heights of the row, as the sheet rounds them.
        for (std::size_t q = 10; q < 17; ++q) {
            double value = 0;
            std::from_chars(fields[q].data(), fields[q].data() + fields[q].size(), value);
            char height[32];
            std::string shown(height, std::to_chars(height, height + sizeof height, value, std::chars_format::fixed, 1).ptr);
            shown[shown.find('.')] = ',';
            EXPECT_NE(text.find(shown), std::string::npos) << id << " q" << q << " " << shown;
        }
        EXPECT_NE(text.find("riga " + fields[3] + ", colonna " + fields[4]), std::string::npos) << text;
        EXPECT_EQ(text.find("esempio"), std::string::npos);
    }
}

// The results replace an earlier results file whole, leaving no temporary, and hold what standard
// output shows; through a dangling link they create the file it names. With --folder the grids are
// read there and the points and results here.
TEST_F(Program, ResultsFileHoldsWhatStandardOutputShows)
{
    fs::create_symlink("made.csv", "dangling.csv");
    test::WriteText("results.csv", "earlier");
    const Outcome toOutput = RunProgram("- <good.csv");
    EXPECT_EQ(toOutput.status, 0);
    for (const std::string results : {"results.csv", "dangling.csv"}) {
        const Outcome toFile = RunProgram("good.csv -o " + results);
        EXPECT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(test::ReadText(results), toOutput.out) << results;
    }
    EXPECT_TRUE(fs::is_symlink("dangling.csv"));
    EXPECT_EQ(test::ReadText("made.csv"), toOutput.out);
    for (const auto& entry : fs::directory_iterator("."))
        EXPECT_FALSE(entry.path().filename().string().starts_with("results.csv.")) << entry.path();

    const fs::path folder = fs::current_path();
    test::WriteText("elsewhere/good.csv", kGood);
    fs::current_path("elsewhere");
    const Outcome run = RunProgram("good.csv -o results.csv --cartella=" + folder.string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::ReadText("results.csv"), toOutput.out);
    fs::current_path(folder);
}

// Interrupted at random moments among its reports, the program takes the
// report and the results file it is writing away with it. The reports folder
// is made with the folder above it.
TEST_F(Program, InterruptedReportsLeaveNoTemporaries)
{
    std::string points = "id,East,North\n";
    for (int i = 0; i < 5000; ++i)
        points += "P" + std::to_string(i) + ",2400000,5100000\n";
    test::WriteText("points.csv", points);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 40000);  // microseconds after the reports folder appears
    // Every signal whose default ends a program, each in a round of its own.
    const int interruptions[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM,
                                 SIGPIPE, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR};
    for (int round = 0; round < int(std::size(interruptions)); ++round) {
        fs::remove_all("out");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(QUORVEL_BATCH_PROGRAM, QUORVEL_BATCH_PROGRAM, "points.csv", "-o", "results.csv", "--reports",
                    "out/reports", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 10000 && !fs::exists("out/reports"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        const int signal = interruptions[round];
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "round " << round << ", seed " << seed;
        for (const std::string folder : {".", "out/reports"})
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                EXPECT_FALSE(name.starts_with(".quorvel-report-") || name.starts_with("results.csv"))
                    << name << ", round " << round << ", seed " << seed;
            }
    }
}

// Results piped into a reader that stops early, as "| head -n 1" does: the
// program ends with a failing status and leaves no unfinished file behind.
// The results outgrow the pipe, so the reader is gone before they are all out.
TEST_F(Program, ReaderThatStopsEarlyEndsTheRunWithoutLeftovers)
{
    std::string points = "id,East,North\n";
    for (int i = 0; i < 1000; ++i)
        points += "P" + std::to_string(i) + ",2400000,5100000\n";
    test::WriteText("points.csv", points);
    const std::string command = std::string("bash -c \"set -o pipefail; timeout -s KILL 60 '") +
                                QUORVEL_BATCH_PROGRAM + "' points.csv --reports out | head -n 1 >first.txt\"";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE) << status;
    EXPECT_EQ(test::ReadText("first.txt"), std::string(kResultsHeader) + std::string(kDataHeader) + "\n");
    for (const auto& entry : fs::directory_iterator("out"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".quorvel-report-")) << entry.path();
}

// On the sample's grids a run says once, on standard error, that they are invented.
TEST_F(Program, SampleGridsWarnOnce)
{
    test::WriteText(kSampleMarkFile, SampleMarkText(""));
    test::WriteText("many.csv", kGood + "C,2400500,5100500\nD,2401000,5101000\n");
    const Outcome run = RunProgram("many.csv -o results.csv");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, std::string("quorvel-batch: ") + kSampleWarning + " (" + kSampleWarningEnglish + ")\n");
    // Each row computed from them says so in its last column, where the numbers are read.
    const std::vector<std::vector<std::string>> rows = test::ReadCsv("results.csv");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].back(), "dati");
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].back(), "esempio") << rows[i][0];
}

}  // namespace
}  // namespace quorvel::batch
