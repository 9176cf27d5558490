// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

namespace vormelle::platform {

// One open file descriptor, closed when the object goes.
class Descriptor final {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor();
    Q_DISABLE_COPY_MOVE(Descriptor)

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

using SharedDescriptor = std::shared_ptr<const Descriptor>;

// A program carried by us and the libraries it needs, started through the system's dynamic
// loader from copies held in memory: it runs wherever its files were written (a temporary
// folder mounted noexec too), and no path, with whatever ":" or ";" it holds, ever takes part in
// the loader's library search. The copies reach the child as descriptors 3, 4, ... (program
// first, then the libraries), which it names as /proc/self/fd/N.
struct LoaderLaunch {
    QString loader;      // the program to start: the loader the carried program names
    QStringList options; // the loader's arguments, ending with the program; its own come after
    QList<SharedDescriptor> descriptors;
};

// The launch for `program` (an executable file) with `libraries` preloaded; the program's first
// argument reads as `program`. Throws BasicError when a file cannot be read or the program names
// no loader (a static or foreign file).
LoaderLaunch loaderLaunch(const QString& program, const QStringList& libraries);

// The loader an ELF file asks for (its PT_INTERP), or "" when it names none or is no ELF file.
QString programInterpreter(const QByteArray& elf);

} // namespace vormelle::platform
