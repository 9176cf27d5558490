// SPDX-License-Identifier: GPL-3.0-or-later
// vormelle-ocr: the text layer's recognition, started by the program (one for each worker) and
// spoken to through descriptor 3. Not meant to be started by hand.
#include "engine/ocr.h"

int main(int argc, char** argv) {
    return vormelle::engine::serveRecognition(argc, argv);
}
