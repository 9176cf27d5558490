#include "convert/conversion.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "convert/engine.h"
#include "convert/outcome.h"
#include "platform/dialogs.h"
#include "platform/events.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <optional>

namespace vormelle::conversion {

namespace {

using convert::RowOutcome;

// Holds every control that would change a run's rows, options or folder while it runs, and
// gives each its own state back when the run ends, however it ends.
class ControlLock final {
public:
    explicit ControlLock(Form1& form) : m_list(form.ListView1) {
        for (QWidget* w : std::initializer_list<QWidget*>{
                 form.PushButton1, form.PushButton4, form.PushButton6, form.PushButton7,
                 form.Option1, form.Option2, form.Text1, form.PushButton9}) {
            m_controls.append({w, w->isEnabled()});
            w->setEnabled(false);
        }
        m_list->setLocked(true);
    }
    ~ControlLock() {
        for (const auto& [widget, enabled] : m_controls) {
            if (widget)
                widget->setEnabled(enabled);
        }
        if (m_list)
            m_list->setLocked(false);
    }
    ControlLock(const ControlLock&) = delete;
    ControlLock& operator=(const ControlLock&) = delete;

private:
    QPointer<ListView> m_list;
    QList<std::pair<QPointer<QWidget>, bool>> m_controls;
};

// The run as the window shows it when it starts: the rows, the output option and folder.
convert::RunRequest requestFrom(const Form1& form) {
    convert::RunRequest request;
    for (int i = 0; i < form.ListView1->count(); ++i)
        request.inputs.append(form.ListView1->text(i));
    // Neither option selected counts as the second: beside each original.
    request.output.toFolder = form.Option1->isChecked();
    request.output.folder = form.Text1->text();
    request.jobs = convert::jobsFromSetting(settings::GetSetting(QStringLiteral("Jobs"), {}));
    return request;
}

// The bar moves as rows finish; its text names the row most recently started.
convert::RunCallbacks progressOn(ProgressBar& bar, const convert::RunRequest& request) {
    auto finished = std::make_shared<int>(0);
    const int count = int(request.inputs.size());
    convert::RunCallbacks callbacks;
    callbacks.rowStarted = [&bar, &request](int row) {
        bar.setText(QStringLiteral("Processing: ") + paths::FileNameOf(request.inputs[row]));
    };
    callbacks.rowFinished = [&bar, finished, count](int, const RowOutcome&) {
        bar.setPosition(double(++*finished) / count * 100);
    };
    callbacks.pause = [] { platform::doEvents(); };
    return callbacks;
}

} // namespace

void PushButton2_Click(Form1& form) {
    const ErrorReport report(form.dialogs(), &form, QString::fromLatin1(trace::PushButton2_Click));
    ProgressBar& bar = *form.ProgressBar1;

    std::optional<convert::Engine> engine;
    std::optional<ControlLock> lock;
    convert::RunRequest request;
    QList<RowOutcome> rows;
    QString refusal; // why the run converts nothing, said once instead of per row

    runNumbered(
        report, 100,
        [&](int line) {
            switch (line) {
            case 100:
                return form.IsConverting ? kEndHandler : 102;
            case 102:
                form.IsConverting = true;
                return 104;
            case 104:
                return form.ListView1->count() > 0 ? 106 : 184;
            case 106:
                return paths::IsFolder(form.Text1->text()) || !form.Option1->isChecked() ? 108
                                                                                         : 182;
            case 108:
                form.setMousePointer(Form1::Hourglass);
                engine.emplace(paths::ProgramFolder());
                refusal = engine->prepare(convert::Route::Pdf);
                return refusal.isEmpty() ? 110 : 174;
            case 110:
                refusal = engine->deploy();
                return refusal.isEmpty() ? 126 : 166;
            case 126:
                request = requestFrom(form);
                lock.emplace(form);
                return 128;
            case 128:
                rows = engine->convert(request, progressOn(bar, request));
                return 166;
            case 166:
                if (engine)
                    engine->finish();
                return 174;
            case 174:
                form.setMousePointer(Form1::Default);
                return 176;
            case 176:
                bar.setPosition(0);
                return 178;
            case 178:
                bar.setText(QStringLiteral("Progress Bar"));
                return 180;
            case 180: {
                if (!refusal.isEmpty()) {
                    form.dialogs().messageBox(&form, refusal, QString(), platform::Buttons::Ok,
                                              platform::Icon::Warning);
                    return 186;
                }
                const bool allConverted = std::all_of(
                    rows.cbegin(), rows.cend(), [](const RowOutcome& r) { return r.converted; });
                form.dialogs().messageBox(
                    &form, convert::closingText(rows), QString(), platform::Buttons::Ok,
                    allConverted ? platform::Icon::None : platform::Icon::Warning);
                return 186;
            }
            case 182:
                form.dialogs().messageBox(
                    &form, QStringLiteral("Folder does not exist. Please select another folder."),
                    QString(), platform::Buttons::Ok, platform::Icon::None);
                return 186;
            case 184:
                form.dialogs().messageBox(&form, QStringLiteral("No files added."), QString(),
                                          platform::Buttons::Ok, platform::Icon::None);
                return 186;
            case 186:
                lock.reset();
                form.IsConverting = false;
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [&](int line) {
            switch (line) {
            case 108: // without a run folder there is nothing to convert into
            case 110:
                return 166;
            case 128: // whatever the rows came to, the run folder goes
                return 166;
            case 180: // each closing box is followed by the return to idle, never by another box
            case 182:
            case 184:
                return 186;
            default:
                return line + 2;
            }
        });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton2, &QPushButton::clicked, &form,
                     [&form] { PushButton2_Click(form); });
}

} // namespace vormelle::conversion
