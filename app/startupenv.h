// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/contact.h"

#include <QCursor>
#include <QIcon>
#include <QString>

#include <functional>

namespace vormelle {

class Form1;

// The program's surroundings, prepared by the start-up before the list and the options are
// restored: the skin colours, the hand pointer, the occasional home-page visit, the application
// title and the default output folder.
namespace startup {

inline constexpr char kProductName[] = "Vormelle";

// Files looked for beside the program (appended to the program folder).
inline constexpr char kSkinFile[] = "/x/o.cjs";
inline constexpr char kHandPointerFile[] = "/HAND-M.CUR";

// With x/o.cjs beside the program, the window and its option buttons, check boxes, frames and
// labels take the button face colour of the palette. There is no skin engine here, so that
// colour is all a skin changes. Without the file nothing changes.
void ApplySkin(Form1& form);

// A pointer picture, read as the picture loader reads it: a cursor file keeps its hot spot, any
// other picture points with its centre. Throws BasicError 53 when the file is not there and 481
// ("Invalid picture") when it holds no picture.
QCursor loadPointer(const QString& path);

// A draw from 1 to 100 for a random `fraction` in [0, 1): each number takes a hundredth.
int drawOneToHundred(double fraction);
// Opens the home page in the desktop's browser, without waiting, when the draw is 7: about one
// start in a hundred. The one-argument form draws from the system's random source. A build
// without a home page does not draw.
void VisitHomePageAtRandom(Form1& form, const std::function<int()>& draw,
                           const QString& homePage = QString::fromLatin1(kHomePage));
void VisitHomePageAtRandom(Form1& form);

// The application title for a product name: the name without its last word, and without more
// words while longer than 40 characters. A one-word name has nothing to cut and stays whole.
// Never longer than 40 characters.
QString applicationTitleFor(const QString& productName);
// Sets the title of message boxes that name none of their own.
void SetApplicationTitle();

// Makes the user's home folder the program's working folder, so a relative output folder
// ("scans/out") means the same wherever the program was started from: it lies in the home
// folder. Returns whether the change was made (the home folder may be missing).
bool workInHomeFolder();

// The user's desktop folder, as the desktop's user-folders setting gives it, followed by "/".
// Throws BasicError 5 when the lookup yields nothing.
QString DesktopFolder();
// The rule above for one looked-up folder.
QString desktopFolderFrom(const QString& lookedUp);

// The program's icon, drawn at 48 and 256 pixels.
QIcon programIcon();

} // namespace startup
} // namespace vormelle
