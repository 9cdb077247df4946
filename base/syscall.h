#pragma once

#include <sys/types.h>

#include <cerrno>

// A system call's result: its value, and 0 or the errno it failed with.
struct TCallResult {
    ssize_t value = 0;
    int error = 0;
};

// Runs call again for as long as it fails with EINTR (a signal whose handler
// was installed without SA_RESTART interrupts blocking calls), and copies
// errno at once.
template <class Call> TCallResult RetryingOnEintr(Call call) {
    for (;;) {
        const ssize_t value = call();
        if (value >= 0)
            return {value, 0};
        if (errno != EINTR)
            return {value, errno};
    }
}
