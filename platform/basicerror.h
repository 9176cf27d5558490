// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <exception>
#include <string>

namespace vormelle {

// The program's one error type. It carries the number and description of the classic Basic
// runtime, because the error report and several handlers decide by those numbers.
class BasicError final : public std::exception {
public:
    enum Number : int {
        InvalidProcedureCall = 5,
        OutOfMemory = 7,
        TypeMismatch = 13,
        FileNotFound = 53,
        DiskFull = 61,
        InternalError = 51,
        TooManyFiles = 67,
        PermissionDenied = 70,
        PathFileAccessError = 75,
        PathNotFound = 76,
        InvalidPicture = 481,
        BufferTooSmall = 20476,
    };

    explicit BasicError(int number);
    BasicError(int number, QString description);

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

    // The file or folder the failure concerns and the system's reason ("Permission denied"),
    // so that the report can name them; both empty when no path was at stake.
    const QString& path() const noexcept { return m_path; }
    const QString& reason() const noexcept { return m_reason; }
    BasicError at(const QString& path, const QString& reason) const;
    // What the program does about the failure, for the report ("" when nothing is said).
    const QString& note() const noexcept { return m_note; }
    BasicError withNote(const QString& note) const;

    // The runtime's description for a number ("Type mismatch" for 13).
    static QString describe(int number);
    // The error for a failed system call: EACCES gives 70, ENOENT 53 (or 76 for folders), ...
    static BasicError fromErrno(int err, bool pathIsFolder = false);
    // The same for a call that worked on `path`: the error names it, with the system's text.
    static BasicError fromErrno(int err, const QString& path, bool pathIsFolder = false);
    // The system's text for an error number ("No such file or directory").
    static QString systemText(int err);

private:
    int m_number = 0;
    QString m_description;
    std::string m_what;
    QString m_path;
    QString m_reason;
    QString m_note;
};

} // namespace vormelle
