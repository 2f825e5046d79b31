#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rain/Error.h"

namespace quorvel {

// An open file descriptor, closed when it goes out of scope unless released.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}

    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A failed system call on path as the program's error: a path that leads
// nowhere is "file not found", anything else a path/file access error, each
// with the system's own words.
inline Error SystemError(const std::string& path, int code = errno)
{
    return Error(code == ENOENT || code == ENOTDIR ? ErrorKind::FileNotFound : ErrorKind::PathAccess, path,
                 SystemDetail(code));
}

// Writes every byte, going on after an interrupting signal; a failure is the
// system's error on name.
inline void WriteAll(int fd, std::string_view bytes, const std::string& name)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw SystemError(name, put < 0 ? errno : EIO);
        done += std::size_t(put);
    }
}

// The one door to every data file the program reads (grids, headers, the
// template, the municipality table, the sample mark): open only when it is a
// regular file. A folder, device, FIFO or socket is refused
// before it is opened: opening a FIFO waits for a writer, and a device such as
// /dev/zero never ends. O_NONBLOCK keeps the open from waiting should the path
// become a FIFO between the check and the open; the second check refuses it.
// The flag is cleared then, so that reads wait for the disk as usual.
// Whoever reads from it reads a bounded amount: ReadDataFile, ForEachDataChunk.
inline FileDescriptor OpenRegularFile(const std::string& path)
{
    const auto refuse = [&path] {
        return Error(ErrorKind::PathAccess, path, {"not a regular file", "non è un file regolare"});
    };
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw SystemError(path);
    if (!S_ISREG(info.st_mode))
        throw refuse();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw SystemError(path);
    if (::fstat(fd.get(), &info) != 0)
        throw SystemError(path);
    if (!S_ISREG(info.st_mode))
        throw refuse();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw SystemError(path);
    return fd;
}

}  // namespace quorvel
