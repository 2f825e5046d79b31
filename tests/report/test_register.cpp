// The register of runs: its lines, its creation, appending from two programs
// at once, a register that cannot be written, and the digests' cache.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "rain/Error.h"
#include "rain/PointRain.h"
#include "rain/PointRun.h"
#include "report/Register.h"
#include "report/Report.h"
#include "tests/rain/GridFixture.h"

namespace fs = std::filesystem;

// When not 0, link() fails with this code, as on a file system without hard
// links: FAT answers EPERM, some network file systems EOPNOTSUPP.
static int refusedLink = 0;

extern "C" int link(const char* from, const char* to) noexcept
{
    if (refusedLink != 0) {
        errno = refusedLink;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0));
}

namespace quorvel::test {
namespace {

using testing::AllOf;
using testing::Property;
using testing::Throws;

class RegisterTest : public ::testing::Test {
protected:
    // Open to everyone: one case writes as nobody.
    RegisterTest() { fs::permissions(dir_.path(), fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add); }

    std::string Path(const char* name = kRegisterName) const { return dir_ / name; }

    ScratchDir dir_;
};

RegisterEntry Entry(std::string report)
{
    const PointRain rain = {{140, 181}, {2400250, 5100250}, 0.1f, 26.448189f, 0.3f,
                            {24.5f, 33.47f, 39.000004f, 45.5f, 53.75f, 1e-7f, 66.5f}};
    return {"2026-12-07T01:15:03+01:00", "2.0", "rossi", std::move(report), {2312345.25f, 5100000.5f}, rain,
            {std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c'), std::string(64, 'd')},
            {std::string(64, 'e'), std::string(64, 'f'), std::string(64, '0')},
            "esempio"};
}

TEST_F(RegisterTest, LineQuotesWhatItMustAndWritesTheShortestNumbers)
{
    // 0.1f as "0.1", not 0.100000001; 39.000004f keeps the digits it needs.
    EXPECT_EQ(RegisterLine(Entry("Valle, \"alta\".xls")),
              "2026-12-07T01:15:03+01:00,2.0,rossi,\"Valle, \"\"alta\"\".xls\",2312345.2,5100000.5,140,181,"
              "2400250,5100250,0.1,26.448189,0.3,24.5,33.47,39.000004,45.5,53.75,0.0000001,66.5," +
                  std::string(64, 'a') + "," + std::string(64, 'b') + "," + std::string(64, 'c') + "," +
                  std::string(64, 'd') + "," + std::string(64, 'e') + "," + std::string(64, 'f') + "," +
                  std::string(64, '0') + ",esempio\n");
}

// A copy of the sample's grids still says "esempio"; once a grid is changed it is no longer the sample.
TEST_F(RegisterTest, DataColumnSaysEsempioOnlyForTheSampleGrids)
{
    fs::copy(QUORVEL_SAMPLE_GRIDS, dir_ / "grd");
    fs::create_directories(dir_ / "programs/prototipo");
    fs::copy_file(QUORVEL_SAMPLE_TEMPLATE, dir_ / kTemplatePath);
    fs::create_directory(dir_ / "output");
    const PointRunResult run{{2400000, 5100000}, Entry("").rain, dir_.path().string() + "/", "Piogge"};
    FileDigests digests;
    RegisterRun(run, digests);
    std::string cv = ReadText(dir_ / kCvRaster);
    WriteText(dir_ / kCvRaster, cv.replace(0, 1, 1, char(cv[0] ^ 1)));
    RegisterRun(run, digests);
    std::istringstream lines(ReadText(Path("output/registro.csv")));
    std::string header, sample, changed;
    std::getline(lines, header);
    std::getline(lines, sample);
    std::getline(lines, changed);
    EXPECT_TRUE(sample.ends_with(",esempio")) << sample;
    EXPECT_TRUE(changed.ends_with(",")) << changed;
}

TEST_F(RegisterTest, MissingRegisterIsCreatedWithItsHeaderAnExistingOneOnlyAppendedTo)
{
    const std::string line = RegisterLine(Entry("Piogge.xls"));
    const struct {
        const char* name;
        const char* before;  // nullptr: no register yet
        std::string after;
    } cases[] = {
        {"missing", nullptr, RegisterHeader() + line},
        {"edited by hand", "vecchio,formato\nriga senza fine", "vecchio,formato\nriga senza fine\n" + line},
        {"empty", "", line},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path());
        if (c.before)
            WriteText(Path(), c.before);
        AppendRegisterLine(Path(), line);
        EXPECT_EQ(ReadText(Path()), c.after);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 1);  // no temporary left
    }
}

// Where the file system has no hard links, a missing register is still
// created with its header, and no temporary file is left.
TEST_F(RegisterTest, FileSystemWithoutHardLinksStillGetsItsHeader)
{
    const std::string line = RegisterLine(Entry("Piogge.xls"));
    for (const int refusal : {EPERM, EOPNOTSUPP}) {
        SCOPED_TRACE(refusal);
        fs::remove(Path());
        refusedLink = refusal;
        EXPECT_NO_THROW(AppendRegisterLine(Path(), line));
        refusedLink = 0;
        EXPECT_EQ(ReadText(Path()), RegisterHeader() + line);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 1);
    }
}

TEST_F(RegisterTest, TwoProgramsAppendingAtOnceNeverMixTheirLines)
{
    constexpr int kLines = 400;
    const std::string lines[2] = {RegisterLine(Entry("Primo.xls")), RegisterLine(Entry(std::string(300, 'x') + ".xls"))};
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            try {
                for (int n = 0; n < kLines; ++n)
                    AppendRegisterLine(Path(), lines[i]);
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(ReadText(Path()).starts_with(RegisterHeader()));
    std::istringstream text(ReadText(Path()));
    std::map<std::string, int> seen;
    for (std::string line; std::getline(text, line);)
        ++seen[line + "\n"];
    EXPECT_EQ(seen, (std::map<std::string, int>{{RegisterHeader(), 1}, {lines[0], kLines}, {lines[1], kLines}}));
}

TEST_F(RegisterTest, UnwritableRegisterFailsNamingItAndChangesNothing)
{
    const struct {
        const char* name;
        const char* register_;
        ErrorKind kind;
    } cases[] = {
        {"read-only", kRegisterName, ErrorKind::PathAccess},
        {"no output folder", "output/registro.csv", ErrorKind::FileNotFound},
    };
    WriteText(Path(), "vecchio\n");
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // The superuser writes anywhere: act as nobody while trying.
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || seteuid(65534) == 0);
    for (const auto& c : cases) {
        EXPECT_THAT([&] { AppendRegisterLine(Path(c.register_), "nuova\n"); },
                    Throws<Error>(AllOf(Property(&Error::kind, c.kind), Property(&Error::file, Path(c.register_)))))
            << c.name;
    }
    ASSERT_TRUE(!root || seteuid(0) == 0);
    EXPECT_EQ(ReadText(Path()), "vecchio\n");
}

// 1 when AppendRegisterLine throws, 0 when it does not. With a file size
// limit, in a child process, so that the limit binds only the append.
int Append(const std::string& path, const std::string& line, rlim_t sizeLimit = RLIM_INFINITY)
{
    if (sizeLimit == RLIM_INFINITY) {
        try {
            AppendRegisterLine(path, line);
            return 0;
        } catch (const Error&) {
            return 1;
        }
    }
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{sizeLimit, sizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            AppendRegisterLine(path, line);
        } catch (const Error&) {
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A register turned against its folder: a link planted where a predictable
// temporary name would be, the register itself a link or a pipe, a write cut
// short by a full disk (here a file size limit). Nothing is written through a
// link, and no torn line or temporary file stays.
TEST_F(RegisterTest, HostileRegisterWritesNothingItShouldNot)
{
    const std::string line = RegisterLine(Entry("Piogge.xls"));
    const std::string victim = dir_ / "victim";
    const struct {
        const char* name;
        std::function<void()> plant;
        int status;              // of the child that appends
        const char* register_;   // what the register holds after, nullptr: no register
    } cases[] = {
        {"planted link at the once predictable temporary name",
         [&] { fs::create_symlink(victim, Path() + "." + std::to_string(getpid()) + ".new"); }, 0, "header+line"},
        {"register a link", [&] { fs::create_symlink(victim, Path()); }, 1, nullptr},
        {"register a dangling link", [&] { fs::create_symlink(dir_ / "nowhere", Path()); }, 1, nullptr},
        {"register a pipe", [&] { ASSERT_EQ(mkfifo(Path().c_str(), 0600), 0); }, 1, nullptr},
        {"register a folder", [&] { fs::create_directory(Path()); }, 1, nullptr},
        {"short write of the line", [&] { WriteText(Path(), RegisterHeader()); }, 1, "header"},
        {"short write of the header", [] {}, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path());
        fs::create_directory(dir_.path());
        WriteText(victim, "da non toccare\n");
        c.plant();
        const bool shortWrite = std::string(c.name).starts_with("short");
        const rlim_t limit = !shortWrite ? RLIM_INFINITY : fs::exists(Path()) ? RegisterHeader().size() + 10 : 10;
        EXPECT_EQ(Append(Path(), line, limit), c.status);
        EXPECT_EQ(ReadText(victim), "da non toccare\n");
        if (c.register_) {
            EXPECT_EQ(ReadText(Path()), std::string(c.register_) == "header+line" ? RegisterHeader() + line
                                                                                   : RegisterHeader());
        } else if (shortWrite) {
            EXPECT_FALSE(fs::exists(Path()));
        }
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".registro.csv.")) << entry.path();
    }
    // The error names the register and says why.
    fs::remove(Path());
    fs::create_symlink(victim, Path());
    EXPECT_THAT([&] { AppendRegisterLine(Path(), line); },
                Throws<Error>(AllOf(Property(&Error::file, Path()),
                                    Property(&Error::italianDetail, "è un collegamento simbolico, non un file regolare"))));
}

TEST_F(RegisterTest, DigestIsReadAgainOnlyWhenSizeOrTimeChanges)
{
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    FileDigests digests;
    WriteText(Path("grid"), "abc");
    EXPECT_EQ(digests.Sha256(Path("grid")), abc);
    const auto time = fs::last_write_time(Path("grid"));

    const struct {
        const char* name;
        const char* content;
        bool sameTime;
        std::string digest;
    } steps[] = {
        {"same size and time: the cached digest", "abd", true, abc},
        {"same size, new time", "abd", false, "a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9"},
        {"new size, same time", "abcd", true, "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        WriteText(Path("grid"), step.content);
        fs::last_write_time(Path("grid"), step.sameTime ? time : time + std::chrono::seconds(5));
        EXPECT_EQ(digests.Sha256(Path("grid")), step.digest);
    }
}

TEST(RegisterTime, LocalTimeWithTheOffset)
{
    const std::map<std::string, std::string> textInZone = {
        {"UTC0", "1970-01-02T00:00:00+00:00"},
        {"CET-1", "1970-01-02T01:00:00+01:00"},
        {"NST+3:30", "1970-01-01T20:30:00-03:30"},
    };
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const auto& [zone, text] : textInZone) {
        setenv("TZ", zone.c_str(), 1);
        tzset();
        EXPECT_EQ(LocalTimeText(86400), text) << zone;
    }
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace quorvel::test
