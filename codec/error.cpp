// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/error.h"

namespace vormelle::codec {

const char* errorName(Error error) {
    switch (error) {
    case Error::None:
        return "none";
    case Error::OutOfMemory:
        return "out of memory";
    case Error::BadDimension:
        return "bad dimension";
    case Error::Aborted:
        return "aborted";
    case Error::WriteFailed:
        return "write failed";
    case Error::NoSpace:
        return "no space left";
    case Error::ToolMissing:
        return "tool missing";
    case Error::ToolFailed:
        return "tool failed";
    case Error::TooLarge:
        return "too large";
    case Error::BadData:
        return "bad data";
    case Error::ReadFailed:
        return "read failed";
    }
    return "unknown";
}

} // namespace vormelle::codec
