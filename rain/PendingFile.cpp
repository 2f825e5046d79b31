#include "rain/PendingFile.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "rain/FileDescriptor.h"

namespace quorvel {
namespace {

// A signal handler may only read plain memory and lock-free atomics, so the
// paths live in fixed slots. A program writes at most a results file and one
// report at a time; the spare slots cover callers on other threads.
struct Slot {
    std::atomic<int> state{0};  // kFree, kClaimed, kReady
    char path[PATH_MAX];
};
constexpr int kFree = 0, kClaimed = 1, kReady = 2;
constexpr int kSlots = 8;
Slot slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free);

// Every signal sent to end a program whose default action does so. The
// faults (SEGV, BUS, ILL, FPE, ABRT) are left alone: after one of those no
// state can be trusted, and the sanitizers report them.
constexpr int kTerminating[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                                SIGPIPE, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR};

extern "C" void RemovePendingFilesAndDie(int signal)
{
    RemovePendingFiles();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    // Delivered once the handler returns: the program ends by the same signal.
    ::raise(signal);
}

// Holds back the terminating signals for its lifetime.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kTerminating)
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace

PendingFile::PendingFile(std::string pattern, const std::string& name) : path_(std::move(pattern))
{
    const SignalsHeld held;
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0)
        throw SystemError(name);
    for (int i = 0; i < kSlots && path_.size() < sizeof slots[i].path; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kClaimed)) {
            std::memcpy(slots[i].path, path_.c_str(), path_.size() + 1);
            slots[i].state.store(kReady);
            slot_ = i;
            return;
        }
    }
    // With every slot taken by other threads' files, this one goes unguarded.
}

PendingFile::~PendingFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (path_.empty())
        return;
    const SignalsHeld held;
    ::unlink(path_.c_str());
    Forget();
}

void PendingFile::Forget()
{
    if (slot_ >= 0)
        slots[slot_].state.store(kFree);
    slot_ = -1;
}

void PendingFile::MoveTo(const std::string& target, const std::string& name)
{
    const int fd = fd_;
    fd_ = -1;
    if (::fdatasync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        throw SystemError(name, error);
    }
    if (::close(fd) != 0)
        throw SystemError(name);
    const SignalsHeld held;
    if (::rename(path_.c_str(), target.c_str()) != 0)
        throw SystemError(name);
    Forget();
    path_.clear();
}

int PendingFile::LinkTo(const std::string& target, const std::string& name)
{
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        throw SystemError(name, error);
    }
    if (::close(fd) != 0)
        throw SystemError(name);
    return ::link(path_.c_str(), target.c_str()) == 0 ? 0 : errno;
}

void RemovePendingFiles() noexcept
{
    for (Slot& slot : slots)
        if (slot.state.load() == kReady)
            ::unlink(slot.path);
}

void RemovePendingFilesOnSignal()
{
    for (const int signal : kTerminating) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;  // ignored by whoever started the program, as nohup does: left so
        struct sigaction action {};
        action.sa_handler = RemovePendingFilesAndDie;
        sigfillset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace quorvel
