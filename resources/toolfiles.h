// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace vormelle::resources {

// One converter file carried as a resource of type "CUSTOM".
struct ToolFile {
    int id;
    QString fileName; // as written into the temporary folder
    bool executable;
};

// In the order they are written: the tool (101), then the JPEG (102), TIFF (103) and zlib (104)
// libraries. On Linux the libraries carry their sonames, so the loader finds them there.
const std::array<ToolFile, 4>& toolFiles();
const ToolFile& toolFile(int id);

// Whether this build carries the first converter (the default) or runs the system's, named by
// systemConverter(). Without a carried one there is nothing to write out or remove.
bool carriesConverter();
QString systemConverter();

// The bytes of resource `id` of type "CUSTOM"; throws BasicError when there is none.
QByteArray customResource(int id);

} // namespace vormelle::resources
