// The register of runs: its lines, its creation, appending from two programs
// at once, a register that cannot be written, and the digests' cache.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "rain/Error.h"
#include "report/Register.h"

namespace fs = std::filesystem;

namespace quorvel::test {
namespace {

class RegisterTest : public ::testing::Test {
protected:
    RegisterTest()
    {
        std::string pattern = (fs::temp_directory_path() / "register-test-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    ~RegisterTest() override { fs::remove_all(dir_); }

    std::string Path(const char* name = "registro.csv") const { return (dir_ / name).string(); }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path dir_;
};

RegisterEntry Entry(std::string report, float east, float a1)
{
    RegisterEntry entry;
    entry.time = "2026-12-07T01:15:03+01:00";
    entry.version = "2.0";
    entry.user = "rossi";
    entry.reportFile = std::move(report);
    entry.point = {east, 5100000.5f};
    entry.rain.cell = {140, 181};
    entry.rain.centre = {2400250, 5100250};
    entry.rain.a2 = 0.1f;
    entry.rain.a1 = a1;
    entry.rain.cv = 0.3f;
    entry.rain.quantiles = {24.5f, 33.47f, 39.000004f, 45.5f, 53.75f, 1e-7f, 66.5f};
    entry.digests = {std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c'), std::string(64, 'd')};
    return entry;
}

// The fields of one CSV line, quotes undone.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

float Single(const std::string& text)
{
    float value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TEST_F(RegisterTest, LinesReadBackExactly)
{
    const RegisterEntry entries[] = {
        Entry("Piogge.xls", 2400000.5f, 26.448189f),
        Entry("Valle, \"alta\".xls", 2312345.25f, 0.1f),
    };
    for (const RegisterEntry& entry : entries)
        AppendRegisterLine(Path(), RegisterLine(entry));

    std::istringstream lines(Read(Path()));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line + "\n", RegisterHeader());
    const std::size_t columns = Fields(line).size();
    for (const RegisterEntry& entry : entries) {
        ASSERT_TRUE(std::getline(lines, line));
        const std::vector<std::string> f = Fields(line);
        ASSERT_EQ(f.size(), columns) << line;
        EXPECT_EQ(f[0], entry.time);
        EXPECT_EQ(f[2], entry.user);
        EXPECT_EQ(f[3], entry.reportFile);
        EXPECT_EQ(Single(f[4]), entry.point.x);
        EXPECT_EQ(Single(f[5]), entry.point.y);
        EXPECT_EQ(f[6] + " " + f[7], "140 181");
        const PointRain& r = entry.rain;
        const float numbers[] = {r.centre.x, r.centre.y, r.a2, r.a1, r.cv};
        for (std::size_t i = 0; i < std::size(numbers); ++i)
            EXPECT_EQ(Single(f[8 + i]), numbers[i]) << f[8 + i];
        for (std::size_t i = 0; i < 7; ++i)
            EXPECT_EQ(Single(f[13 + i]), r.quantiles.InOrder()[i]) << f[13 + i];
        EXPECT_EQ(f[20 + 3], std::string(64, 'd'));
        EXPECT_EQ(f[8 + 2], "0.1");  // the shortest text, not 0.100000001
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(RegisterTest, MissingRegisterIsCreatedWithItsHeaderAnExistingOneOnlyAppendedTo)
{
    const std::string line = RegisterLine(Entry("Piogge.xls", 2400000, 26));
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
            Write(Path(), c.before);
        AppendRegisterLine(Path(), line);
        EXPECT_EQ(Read(Path()), c.after);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);  // no temporary left
    }
}

TEST_F(RegisterTest, TwoProgramsAppendingAtOnceNeverMixTheirLines)
{
    constexpr int kLines = 400;
    const std::string lines[2] = {RegisterLine(Entry("Primo.xls", 2400000, 26)),
                                  RegisterLine(Entry(std::string(300, 'x') + ".xls", 2500000, 27))};
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
    std::istringstream text(Read(Path()));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line + "\n", RegisterHeader());
    std::map<std::string, int> seen;
    while (std::getline(text, line))
        ++seen[line + "\n"];
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[lines[0]], kLines);
    EXPECT_EQ(seen[lines[1]], kLines);
}

TEST_F(RegisterTest, UnwritableRegisterFailsNamingItAndChangesNothing)
{
    const struct {
        const char* name;
        const char* register_;
        ErrorKind kind;
    } cases[] = {
        {"read-only", "registro.csv", ErrorKind::PathAccess},
        {"no output folder", "output/registro.csv", ErrorKind::FileNotFound},
    };
    Write(Path(), "vecchio\n");
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The superuser writes anywhere: act as nobody while trying.
        const bool root = geteuid() == 0;
        ASSERT_TRUE(!root || seteuid(65534) == 0);
        std::optional<Error> failure;
        try {
            AppendRegisterLine(Path(c.register_), "nuova\n");
        } catch (const Error& error) {
            failure = error;
        }
        ASSERT_TRUE(!root || seteuid(0) == 0);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), c.kind);
        EXPECT_EQ(failure->file(), Path(c.register_));
    }
    EXPECT_EQ(Read(Path()), "vecchio\n");
}

TEST_F(RegisterTest, DigestIsReadAgainOnlyWhenSizeOrTimeChanges)
{
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string abd = "a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9";
    const std::string abcd = "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589";
    FileDigests digests;
    Write(Path("grid"), "abc");
    EXPECT_EQ(digests.Sha256(Path("grid")), abc);
    const auto time = fs::last_write_time(Path("grid"));

    const struct {
        const char* name;
        const char* content;
        bool sameTime;
        const std::string& digest;
    } steps[] = {
        {"same size and time: the cached digest", "abd", true, abc},
        {"same size, new time", "abd", false, abd},
        {"new size, same time", "abcd", true, abcd},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        Write(Path("grid"), step.content);
        fs::last_write_time(Path("grid"), step.sameTime ? time : time + std::chrono::seconds(5));
        EXPECT_EQ(digests.Sha256(Path("grid")), step.digest);
    }
}

TEST(RegisterTime, LocalTimeWithTheOffset)
{
    const struct {
        const char* zone;
        const char* text;
    } cases[] = {
        {"UTC0", "1970-01-02T00:00:00+00:00"},
        {"CET-1", "1970-01-02T01:00:00+01:00"},
        {"NST+3:30", "1970-01-01T20:30:00-03:30"},
    };
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(LocalTimeText(86400), c.text) << c.zone;
    }
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace quorvel::test
