#pragma once
// A full disk for the write-failure tests: while a DiskLimit lives, every write that would
// take a file past `bytes` fails (EFBIG) instead of raising SIGXFSZ, as a full device does.

#include <csignal>

#include <sys/resource.h>

namespace quellar::test {

class DiskLimit {
public:
    explicit DiskLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN); // a failed write() instead of a signal
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~DiskLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    DiskLimit(const DiskLimit&) = delete;
    DiskLimit& operator=(const DiskLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = nullptr;
};

} // namespace quellar::test
