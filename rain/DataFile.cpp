#include "rain/DataFile.h"

#include <cerrno>

#include <unistd.h>

#include "rain/Error.h"
#include "rain/FileDescriptor.h"

namespace quorvel {

namespace {

Error TooLarge(const std::string& path, std::uint64_t limit)
{
    const std::string bytes = std::to_string(limit);
    return Error(ErrorKind::BadFileFormat, path,
                 {"larger than " + bytes + " bytes", "più grande di " + bytes + " byte"});
}

}  // namespace

std::uint64_t ForEachDataChunk(const std::string& path, std::uint64_t limit,
                               const std::function<void(std::string_view)>& take)
{
    const FileDescriptor fd = OpenRegularFile(path);
    char buffer[1 << 16];
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SystemError(path);
        if (got == 0)
            return total;
        total += std::uint64_t(got);
        if (total > limit)
            throw TooLarge(path, limit);
        take(std::string_view(buffer, std::size_t(got)));
    }
}

std::string ReadDataFile(const std::string& path, std::size_t limit)
{
    std::string bytes;
    ForEachDataChunk(path, limit, [&bytes](std::string_view chunk) { bytes.append(chunk); });
    return bytes;
}

}  // namespace quorvel
