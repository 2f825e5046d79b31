#pragma once

#include <string>

namespace quorvel {

// A new file written under a temporary name beside its destination, then
// renamed over it. Until then an interrupting signal's handler can remove it
// through RemovePendingFiles(), so that an interrupted program leaves no
// half-written file behind; on any other way out the destructor removes it.
class PendingFile {
public:
    // Creates the file from pattern, which ends in "XXXXXX", with the
    // interrupting signals held until it is registered. A failure is the
    // system's error on name.
    PendingFile(std::string pattern, const std::string& name);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Puts the file on disk and renames it to target; a failure is the
    // system's error on name, and the file is removed.
    void MoveTo(const std::string& target, const std::string& name);
    // Puts the file on disk (a failure is the system's error on name), then
    // links it in as target, never replacing a file there: 0 when linked,
    // otherwise link's errno. Either way the temporary name goes with the object.
    int LinkTo(const std::string& target, const std::string& name);

private:
    void Forget();

    int fd_ = -1;
    std::string path_;
    int slot_ = -1;
};

// Removes every pending file. Safe inside a signal handler.
void RemovePendingFiles() noexcept;

// Every signal that would end the program removes the pending files first,
// then ends it as it would have; a signal the program was started with
// ignored stays ignored. For a program's main(), before it writes anything.
void RemovePendingFilesOnSignal();

}  // namespace quorvel
