#include "report/Register.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "rain/DataFile.h"
#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/PendingFile.h"
#include "rain/SampleMark.h"
#include "report/CsvText.h"
#include "report/Report.h"

namespace quorvel {

namespace {

// The grids hold at most 256 MiB of values and the template 16 MiB: a file
// beyond this is none of them, and is not read to the end.
constexpr std::uint64_t kMaxDigestedFile = std::uint64_t(512) << 20;

Error NotRegular(const std::string& path, const ErrorDetail& what)
{
    return Error(ErrorKind::PathAccess, path, what);
}

// Opened only when it is a regular file under its own name: a register that
// is a link could lead the lines, or the header's creation, into any file the
// user can write. O_NONBLOCK keeps a FIFO in its place from holding the open.
int OpenForAppending(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0 && errno == ELOOP)
        throw NotRegular(path, {"a symbolic link, not a regular file", "è un collegamento simbolico, non un file regolare"});
    if (fd.get() < 0 && errno == EISDIR)
        throw NotRegular(path, {"a folder, not a regular file", "è una cartella, non un file regolare"});
    struct stat info {};
    if (fd.get() >= 0 && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)))
        throw NotRegular(path, {"not a regular file", "non è un file regolare"});
    return fd.release();
}

// One write of the whole text: a second write could let another program's
// line in between. A write cut short (a full disk, a quota, a file size
// limit) is taken back to where the text began, so no torn line stays.
void WriteOnce(int fd, const std::string& text, const std::string& path)
{
    struct stat before {};
    if (::fstat(fd, &before) != 0)
        throw SystemError(path);
    ssize_t written;
    do {
        written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    const int code = written < 0 ? errno : EFBIG;
    if (std::size_t(written) != text.size()) {
        if (written > 0 && ::ftruncate(fd, before.st_size) != 0)
            throw Error(ErrorKind::PathAccess, path,
                        {"incomplete write that could not be taken back", "scrittura incompleta che non si è potuta annullare"});
        if (written < 0)
            throw SystemError(path, code);
        throw Error(ErrorKind::PathAccess, path, {"incomplete write, taken back", "scrittura incompleta, annullata"});
    }
    if (::fsync(fd) != 0)
        throw SystemError(path);
}

// The register appears under its name already holding the header: it is
// written beside it under a name no other program can foresee, created
// afresh, and linked in, which fails harmlessly when another program was first.
void CreateRegister(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    {
        PendingFile header(folder + "." + name + ".XXXXXX", path);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(header.fd(), 0666 & ~mask) != 0)
            throw SystemError(path);
        WriteOnce(header.fd(), RegisterHeader(), path);
        const int code = header.LinkTo(path, path);
        if (code == 0 || code == EEXIST)
            return;
        if (code != EPERM && code != EOPNOTSUPP)
            throw SystemError(path, code);
    }
    // A file system without hard links: the header goes first into a file
    // only this program can have created.
    const FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0 && errno == EEXIST)
        return;
    if (fd.get() < 0)
        throw SystemError(path);
    WriteOnce(fd.get(), RegisterHeader(), path);
}

// A register edited by hand may lack its last line feed: the new line must
// not run on from that line.
bool EndsInLineFeed(int fd)
{
    struct stat info {};
    char last = '\n';
    return ::fstat(fd, &info) != 0 || info.st_size == 0 || ::pread(fd, &last, 1, info.st_size - 1) != 1 ||
           last == '\n';
}

std::string Hex(const GChecksum* checksum)
{
    return g_checksum_get_string(const_cast<GChecksum*>(checksum));
}

}  // namespace

std::string RegisterHeader()
{
    return "data_ora,versione,utente,report,E,N,riga,colonna,centro_E,centro_N,a2,a1,cv,"
           "q2,q5,q10,q20,q50,q100,q200,sha256_a2,sha256_a1,sha256_cv,sha256_modello,"
           "sha256_a2_hdr,sha256_a1_hdr,sha256_cv_hdr,dati\n";
}

std::string RegisterLine(const RegisterEntry& entry)
{
    std::string line;
    for (const std::string* text : {&entry.time, &entry.version, &entry.user, &entry.reportFile}) {
        AppendField(line, *text);
        line += ',';
    }
    const PointRain& rain = entry.rain;
    for (const float value : {entry.point.x, entry.point.y}) {
        AppendSingle(line, value);
        line += ',';
    }
    AppendInteger(line, rain.cell.row);
    line += ',';
    AppendInteger(line, rain.cell.column);
    line += ',';
    for (const float value : {rain.centre.x, rain.centre.y, rain.a2, rain.a1, rain.cv}) {
        AppendSingle(line, value);
        line += ',';
    }
    for (const float value : rain.quantiles.InOrder()) {
        AppendSingle(line, value);
        line += ',';
    }
    for (const std::string& digest : entry.digests) {
        AppendField(line, digest);
        line += ',';
    }
    for (const std::string& digest : entry.headerDigests) {
        AppendField(line, digest);
        line += ',';
    }
    AppendField(line, entry.data);
    line += '\n';
    return line;
}

std::string RegisterPath(const std::string& appFolder)
{
    return appFolder + kOutputFolder + kRegisterName;
}

void AppendRegisterLine(const std::string& path, const std::string& line)
{
    int fd = OpenForAppending(path);
    if (fd < 0 && errno == ENOENT) {
        CreateRegister(path);
        fd = OpenForAppending(path);
    }
    const FileDescriptor file(fd);
    if (file.get() < 0)
        throw SystemError(path);
    // Another program's write may be under way while the last byte is read:
    // the lock makes the look and the write one step for every Quorvel.
    int locked;
    do {
        locked = ::flock(file.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0)
        throw SystemError(path);
    WriteOnce(file.get(), EndsInLineFeed(file.get()) ? line : "\n" + line, path);
}

std::string LocalTimeText(std::time_t when)
{
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr)
        throw Error(ErrorKind::Overflow, {}, {"time beyond the calendar", "data fuori dal calendario"});
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    std::snprintf(text + length, sizeof text - length, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                  minutes / 60, minutes % 60);
    return text;
}

std::string LoginName()
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    if (const char* login = ::getlogin())
        return login;
    return std::to_string(::getuid());
}

const char* ProgramVersion()
{
    return QUORVEL_VERSION;
}

const std::string& FileDigests::Sha256(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw SystemError(path);
    if (const auto known = known_.find(path);
        known != known_.end() && known->second.size == info.st_size &&
        known->second.modified.tv_sec == info.st_mtim.tv_sec &&
        known->second.modified.tv_nsec == info.st_mtim.tv_nsec)
        return known->second.digest;

    const std::unique_ptr<GChecksum, void (*)(GChecksum*)> checksum(g_checksum_new(G_CHECKSUM_SHA256),
                                                                    g_checksum_free);
    ForEachDataChunk(path, kMaxDigestedFile, [&checksum](std::string_view chunk) {
        g_checksum_update(checksum.get(), reinterpret_cast<const guchar*>(chunk.data()), gssize(chunk.size()));
    });
    // The size and time from before the reading: a change while reading shows next time.
    Known& known = known_[path];
    known = {info.st_size, info.st_mtim, Hex(checksum.get())};
    return known.digest;
}

RunRecord RecordRun(const PointRunResult& run, FileDigests& digests)
{
    RunRecord record;
    record.time = LocalTimeText(std::time(nullptr));
    record.version = ProgramVersion();
    record.user = LoginName();
    const char* files[] = {kA2Raster, kA1Raster, kCvRaster, kTemplatePath};
    for (std::size_t i = 0; i < record.digests.size(); ++i)
        record.digests[i] = digests.Sha256(run.appFolder + files[i]);
    const char* headers[] = {kA2Header, kA1Header, kCvHeader};
    for (std::size_t i = 0; i < record.headerDigests.size(); ++i)
        record.headerDigests[i] = digests.Sha256(run.appFolder + headers[i]);
    if (IsSyntheticSample(run.appFolder))
        record.data = "esempio";
    return record;
}

RegisterEntry EntryOf(const PointRunResult& run, const RunRecord& record)
{
    RegisterEntry entry;
    entry.time = record.time;
    entry.version = record.version;
    entry.user = record.user;
    entry.reportFile = run.outputName + kOutputExtension;
    entry.point = run.point;
    entry.rain = run.rain;
    entry.digests = record.digests;
    entry.headerDigests = record.headerDigests;
    entry.data = record.data;
    return entry;
}

RegisterEntry RunEntry(const PointRunResult& run, FileDigests& digests)
{
    return EntryOf(run, RecordRun(run, digests));
}

void RegisterRun(const PointRunResult& run, FileDigests& digests)
{
    AppendRegisterLine(RegisterPath(run.appFolder), RegisterLine(RunEntry(run, digests)));
}

}  // namespace quorvel
