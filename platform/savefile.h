#pragma once

#include <QString>

namespace vormelle::platform {

// Copies `source` over `target` atomically: the copy is written beside the target and renamed
// onto it only when complete, so the target is either its old self or the whole new file, and
// it is never touched when the copy fails. Throws BasicError when it cannot.
void replaceFile(const QString& source, const QString& target);

// Whether both paths name one existing file (also through links).
bool sameFile(const QString& a, const QString& b);

} // namespace vormelle::platform
