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

    // The runtime's description for a number ("Type mismatch" for 13).
    static QString describe(int number);
    // The error for a failed system call: EACCES gives 70, ENOENT 53 (or 76 for folders), ...
    static BasicError fromErrno(int err, bool pathIsFolder = false);

private:
    int m_number = 0;
    QString m_description;
    std::string m_what;
};

} // namespace vormelle
