// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/basicerror.h"
#include "platform/texts.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

namespace vormelle {

BasicError::BasicError(int number) : BasicError(number, describe(number)) {}

BasicError::BasicError(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_what(m_description.toStdString()) {
}

QString BasicError::describe(int number) {
    switch (number) {
    case InvalidProcedureCall:
        return platform::Texts::tr("Invalid procedure call or argument");
    case OutOfMemory:
        return platform::Texts::tr("Out of memory");
    case InternalError:
        return platform::Texts::tr("Internal error");
    case TypeMismatch:
        return platform::Texts::tr("Type mismatch");
    case FileNotFound:
        return platform::Texts::tr("File not found");
    case DiskFull:
        return platform::Texts::tr("Disk full");
    case TooManyFiles:
        return platform::Texts::tr("Too many files");
    case PermissionDenied:
        return platform::Texts::tr("Permission denied");
    case PathFileAccessError:
        return platform::Texts::tr("Path/File access error");
    case PathNotFound:
        return platform::Texts::tr("Path not found");
    case InvalidPicture:
        return platform::Texts::tr("Invalid picture");
    case BufferTooSmall:
        return platform::Texts::tr(
            "The FileName buffer is too small to store the selected file names");
    default:
        return platform::Texts::tr("Application-defined or object-defined error");
    }
}

BasicError BasicError::at(const QString& path, const QString& reason) const {
    BasicError copy = *this;
    copy.m_path = path;
    copy.m_reason = reason;
    return copy;
}

BasicError BasicError::withNote(const QString& note) const {
    BasicError copy = *this;
    copy.m_note = note;
    return copy;
}

QString BasicError::systemText(int err) {
    const char* text = ::strerrordesc_np(err);
    return text ? QString::fromLatin1(text) : platform::Texts::tr("Error %1").arg(err);
}

BasicError BasicError::fromErrno(int err, const QString& path, bool pathIsFolder) {
    return fromErrno(err, pathIsFolder).at(path, systemText(err));
}

BasicError BasicError::fromErrno(int err, bool pathIsFolder) {
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        return BasicError(PermissionDenied);
    case ENOENT:
        return BasicError(pathIsFolder ? PathNotFound : FileNotFound);
    case ENOTDIR:
        return BasicError(PathNotFound);
    case ENOSPC:
    case EDQUOT:
        return BasicError(DiskFull);
    case EMFILE:
    case ENFILE:
        return BasicError(TooManyFiles);
    default:
        return BasicError(PathFileAccessError,
                          BasicError::describe(PathFileAccessError) + QStringLiteral(" (") +
                              QString::fromLocal8Bit(std::strerror(err)) + QStringLiteral(")"));
    }
}

} // namespace vormelle
