// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::platform {

// The platform's temporary location: the first of $TEMP, $TMPDIR and /tmp that is set and names
// a folder this user may write into; unset or empty variables are passed over. When none is
// usable, the first that is set (or /tmp), so that what goes wrong there can be named.
QString temporaryLocation();

// Whether the file system holding `path` has (next to) no room left for data or for new files.
bool hasNoSpaceLeft(const QString& path);

// A folder that only this user may enter (mode 0700), made inside a shared location for the
// length of some work. Its name carries the process id of its maker, and the maker holds a lock
// on it, so that a later process can tell a folder whose maker has gone.
class PrivateFolder final {
public:
    PrivateFolder() = default;
    // Makes "<base>/<prefix><pid>-XXXXXX"; throws BasicError (described in the system's words)
    // when it cannot.
    PrivateFolder(const QString& base, const QString& prefix);
    // Leaves the folder in place (only remove() takes it away).
    ~PrivateFolder();
    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    bool exists() const { return !m_path.isEmpty(); }
    // "" when there is none.
    const QString& path() const { return m_path; }
    // Removes the folder with everything in it, quietly.
    void remove();

private:
    QString m_path;
    int m_lockFd = -1;
};

// Removes the folders that PrivateFolder made in `base` under `prefix` for this user and whose
// makers no longer run. Never reports anything.
void removeLeftOverFolders(const QString& base, const QString& prefix);

// Removes a folder with everything in it, never following links. True when it is gone.
bool removeTree(const QString& path);

} // namespace vormelle::platform
