#pragma once

namespace vormelle::codec {

// Why a stage did not produce its output. The caller words it for the user.
enum class Error {
    None,
    OutOfMemory,
    BadDimension, // a page of no pixels, or one the format cannot hold
    Aborted,      // the abort hook asked to stop
    WriteFailed,  // the writer callback refused the bytes
    ToolMissing,  // an encoder program is not installed
    ToolFailed,   // an encoder program ended without its output
};

// A short English name for logs and tests.
const char* errorName(Error error);

} // namespace vormelle::codec
