// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::platform {

// Copies `source` over `target` atomically: the copy is written into the target's folder and
// renamed onto it only when complete and on disk, so the target is either its old self or the
// whole new file, and it is never touched when the copy fails. The copy has no name until it is
// complete where the file system allows, so even a killed program leaves no part behind.
// An existing target's permissions carry over. Throws BasicError (described in the system's
// words, such as "No space left on device") when it cannot.
void replaceFile(const QString& source, const QString& target);

// Whether both paths name one existing file (also through links).
bool sameFile(const QString& a, const QString& b);

// The system's words for an error number ("Read-only file system"), never translated.
QString systemErrorText(int err);

} // namespace vormelle::platform
