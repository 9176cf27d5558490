// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle::codec {

// Why a stage did not produce its output. The caller words it for the user.
enum class Error {
    None,
    OutOfMemory,
    BadDimension, // a page of no pixels, or one the format cannot hold
    Aborted,      // the abort hook asked to stop
    WriteFailed,  // the writer callback refused the bytes
    NoSpace,      // a file of its own could not be written: the disk or folder is full
    ToolMissing,  // an encoder program is not installed
    ToolFailed,   // an encoder program ended without its output
    TooLarge,     // beyond what the format can hold (a 2 GiB file, 65535 components)
    BadData,      // input bytes that are not what they claim to be (a damaged DjVu file)
    ReadFailed,   // a file to be copied in could not be read, or changed since it was added
};

// A short English name for logs and tests.
const char* errorName(Error error);

} // namespace vormelle::codec
