// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/scripteddialogs.h"

namespace vormelle::test {

platform::Answer ScriptedDialogs::messageBox(QWidget*, const QString& text, const QString& title,
                                             platform::Buttons buttons, platform::Icon icon) {
    boxes.append({text, title, buttons, icon});
    if (onBox)
        onBox(boxes.back());
    if (boxAnswers.empty())
        return buttons == platform::Buttons::YesNo ? platform::Answer::No : platform::Answer::Ok;
    const platform::Answer answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
}

QString ScriptedDialogs::openFiles(QWidget*, const platform::OpenFilesRequest& request) {
    openFilesRequests.append(request);
    if (openFilesAnswers.empty())
        return {};
    const auto answer = openFilesAnswers.front();
    openFilesAnswers.pop_front();
    return answer();
}

QString ScriptedDialogs::browseForFolder(QWidget*, const QString& title,
                                         const QString& startFolder) {
    folderTitles.append(title);
    folderStarts.append(startFolder);
    if (folderAnswers.empty())
        return {};
    const QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

QString ScriptedDialogs::saveFile(QWidget*, const QString&, const QString& startPath,
                                  const QString&) {
    saveStarts.append(startPath);
    if (saveAnswers.empty())
        return {};
    const QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

QString ScriptedDialogs::inputBox(QWidget*, const QString& prompt, const QString& title,
                                  const QString& defaultAnswer) {
    inputPrompts.append(prompt);
    inputTitles.append(title);
    inputDefaults.append(defaultAnswer);
    if (inputAnswers.empty())
        return {};
    const QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

} // namespace vormelle::test
