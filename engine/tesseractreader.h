// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ocr.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace vormelle::engine {

// Tesseract itself, with its languages loaded once, in the recognition helper's process
// (serveRecognition): the program talks to it through Recognizer, and ends the process to stop
// it, since parts of Tesseract's work never look at a stop.
class TesseractReader final {
public:
    explicit TesseractReader(const QString& languages);
    ~TesseractReader();
    TesseractReader(const TesseractReader&) = delete;
    TesseractReader& operator=(const TesseractReader&) = delete;

    bool loaded() const;
    // Reads one page (rows from the top; `bytesPerPixel` 0 for 1 bit a pixel with 1 for black,
    // 1 for grey). Past `boundMs` the words read until then come back, cutShort.
    PageText read(const uchar* pixels, int width, int height, int bytesPerPixel,
                  qsizetype bytesPerLine, int dpi, int boundMs);

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace vormelle::engine
