// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QDragMoveEvent;
class QMimeData;
class QObject;
class QUrl;

namespace vormelle {

class Form1;

// Files and folders dropped onto the list from the desktop's file manager.
namespace dragdrop {

// Whether the data names files: it carries local file URLs (the file managers' uri-list).
bool hasFileNames(const QMimeData& data);
// The dropped names as local paths, in the order the source gave them.
QStringList droppedFiles(const QMimeData& data);
// Whether a URL names a file of this computer: file: with no host, "localhost" or this
// computer's own name.
bool isOnThisComputer(const QUrl& url);

// Refuses data without file names, and rows dragged inside the list itself.
void ListView1_OLEDragOver(Form1& form, QDragMoveEvent& event);
// A dropped file becomes one row as given; a dropped folder becomes a row for every file in it
// and below it (but "~" names and plain hidden files).
void ListView1_OLEDragDrop(Form1& form, const QMimeData& data);
// What a drop of these names adds, also for names given to the program when it starts.
void addDroppedNames(Form1& form, const QStringList& names);

// Lets the list take drops and connects the two handlers.
void connect(Form1& form);

} // namespace dragdrop
} // namespace vormelle
