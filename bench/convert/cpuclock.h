#pragma once

#include <sys/resource.h>

namespace vormelle::bench {

// Processor seconds, user and system, of one getrusage subject.
inline double cpuSecondsOf(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor seconds used so far by this process and by its ended children: the converters'
// time counts, whatever else the machine is doing.
inline double cpuSeconds() {
    return cpuSecondsOf(RUSAGE_SELF) + cpuSecondsOf(RUSAGE_CHILDREN);
}

// This process alone: the program's own share of a run.
inline double ownCpuSeconds() {
    return cpuSecondsOf(RUSAGE_SELF);
}

} // namespace vormelle::bench
