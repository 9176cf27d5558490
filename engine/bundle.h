// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/text.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <map>

namespace vormelle::engine {

struct PageText;

// The document writer's name where a row's steps are listed.
inline constexpr char kDocumentWriter[] = "document writer";

// The text layer's zones for one page: its paragraphs, lines and words with DjVu's origin at the
// bottom left, scaled when the DjVu page has another size than the pixels read.
codec::TextZone textZones(const PageText& page, const QSize& djvuPage);

// Puts the DjVu files `files` (page files, or documents such as a PDF route's parts) into one
// document at `document`, in order, with codec's document writer: no tool and no argument list,
// however many pages. Page n of the result (from 1) gets the hidden text `texts` holds for n.
// `document` is replaced only when complete; `workFolder` holds the spool. "" when done;
// otherwise why not, in the row's words, naming the step ("the pages could not be bundled: ...");
// `error`, when given, gets the codec's error (codec::Error::NoSpace for a full folder).
// `shared`, when given, is a shared component's file (a FORM:DJVI, such as a shape dictionary)
// that goes in first under its file name, which the pages' INCL chunks name.
QString writeDocument(const QStringList& files, const QString& document, const QString& workFolder,
                      const std::map<int, codec::TextZone>& texts = {},
                      codec::Error* error = nullptr, const QString& shared = {});

// The same step's words for one codec error, after `what` failed ("the pages could not be
// bundled").
QString documentProblem(const QString& what, codec::Error error);

} // namespace vormelle::engine
