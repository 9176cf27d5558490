// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a long run is watched with: memory, open descriptors, child processes, and the window's
// gaps between two looks at its events. Shared by the load test and the load benchmark.
#include "app/controls.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VORMELLE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORMELLE_ASAN 1
#endif
#endif
#ifdef VORMELLE_ASAN
#include <cstddef>
// The sanitizer runtime's count of live heap bytes (GCC ships no header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace vormelle::test {

// Resident memory now, in KiB.
inline long residentKiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// The process's high-water mark of resident memory, in KiB.
inline long peakResidentKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Bytes the allocator has handed out and not had back. Under AddressSanitizer freed blocks wait
// in its quarantine and still count in the resident memory; this figure leaves them out.
inline qint64 heapInUse() {
#ifdef VORMELLE_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

inline bool underAddressSanitizer() {
#ifdef VORMELLE_ASAN
    return true;
#else
    return false;
#endif
}

// Open file descriptors of this process (the listing's own one included, the same every time).
inline int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

struct Children {
    int running = 0;
    int zombies = 0;
    bool operator==(const Children&) const = default;
};

// The child processes of this process, ended ones not yet waited for counted as zombies.
inline Children childProcesses() {
    Children c;
    const QByteArray self = QByteArray::number(qint64(getpid()));
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString& pid : pids) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() < 2 || rest[1] != self)
            continue;
        if (rest[0] == "Z")
            ++c.zombies;
        else
            ++c.running;
    }
    return c;
}

// Looks at the window's event processing: a zero-interval timer fires every time events are
// processed; the longest time between two firings is the longest the window went deaf. It also
// notices each new file the run takes up (the bar's "Processing: " text) and calls `onFile`
// with the count so far.
class RunWatch final : public QObject {
public:
    explicit RunWatch(const ProgressBar& bar) : m_bar(bar) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
    }
    std::function<void(int files)> onFile;

    void start() {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_files = 0;
        m_lastText.clear();
        m_timer.start();
    }
    void stop() {
        look();
        m_timer.stop();
    }
    qint64 longestGapNs() const { return m_longest; }
    int files() const { return m_files; }
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }

private:
    void look() {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
        const QString text = m_bar.text();
        if (text.startsWith(QStringLiteral("Processing: ")) && text != m_lastText) {
            m_lastText = text;
            ++m_files;
            if (onFile)
                onFile(m_files);
        }
    }

    const ProgressBar& m_bar;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_files = 0;
    QString m_lastText;
};

} // namespace vormelle::test
