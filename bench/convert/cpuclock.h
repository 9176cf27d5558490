// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <sys/resource.h>
#include <vector>

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

// Wall-clock and processor seconds (this process and its ended children) of one piece of work.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

template <typename Work> Cost measure(Work work) {
    const double cpu = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    work();
    return {double(timer.nsecsElapsed()) / 1e9, cpuSeconds() - cpu};
}

// The figure to quote from several rounds.
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace vormelle::bench
