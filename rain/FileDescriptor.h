#pragma once

#include <cerrno>
#include <cstring>
#include <string>

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

}  // namespace quorvel
