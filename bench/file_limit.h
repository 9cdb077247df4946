#pragma once

#include <sys/resource.h>

// Raises this process's open-file limit to the hard limit, as the runner
// does: one descriptor per controller. Returns the limit now in force.
inline rlim_t RaiseOpenFileLimit() {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
    return files.rlim_cur;
}
