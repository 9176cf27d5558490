// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/addfiles.h"

#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "inputs/texts.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QStringList>

namespace vormelle::addfiles {

void PushButton1_Click(Form1& form) {
    platform::OpenFilesRequest request;
    request.title = inputs::Texts::tr("Add File(s) - Hold Ctrl to select multiple files");
    request.filter = inputs::Texts::tr("TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|");
    request.maxFileSize = 30000;
    QString fileName;
    QStringList parts;
    runNumbered(form, trace::PushButton1_Click, 100, [&](int line) {
        switch (line) {
        case 100:
            fileName.clear();
            try {
                fileName = form.dialogs().openFiles(&form, request);
            } catch (const BasicError& e) {
                if (e.number() != BasicError::BufferTooSmall)
                    throw;
                form.dialogs().ok(
                    &form, inputs::Texts::tr("You've selected too many files to add.\r\r"
                                             "Please try adding via the \"Add All\" button."));
                return kEndHandler;
            }
            return 102;
        case 102:
            return fileName.isEmpty() ? kEndHandler : 104;
        case 104:
            parts = fileName.split(QChar(0));
            return 106;
        case 106:
            if (parts.size() == 1) {
                form.files().add(parts.front());
                return kEndHandler;
            }
            return 108;
        case 108:
            for (qsizetype i = 1; i < parts.size(); ++i)
                form.files().add(paths::CleanPath(parts.front() + paths::separator() + parts[i]));
            return kEndHandler;
        default:
            return kEndHandler;
        }
    });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton1, &QPushButton::clicked, &form,
                     [&form] { PushButton1_Click(form); });
}

} // namespace vormelle::addfiles
