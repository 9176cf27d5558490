// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine.h"

#include <QString>

namespace vormelle {

class Form1;

// How a run converts: the route, the text layer and the jobs, each stored under one key spelled
// here. Which route "Start Converting" takes: straight from the TIFF into DjVu
// (Option3), or tiff2pdf and pdf2djvu (Option4). The choice is stored under "Encoder" after every
// click and read at start-up; a missing or unknown value means the route through a PDF.
namespace encoderchoice {

enum class Encoder { Pdf, Direct };

inline constexpr char kSetting[] = "Encoder";

// "Direct" or "PDF", as stored.
QString settingText(Encoder encoder);
// "Direct" (in any letter case, surrounding spaces ignored) is the direct route; anything else
// the route through a PDF.
Encoder fromSettingText(const QString& text);

// The stored choice.
Encoder storedEncoder();
// The window's choice.
Encoder chosenEncoder(const Form1& form);

// The option buttons' click handler: stores the window's choice. A settings file that cannot be
// written is reported, and the program goes on.
void Option_Click(Form1& form);

// Selects the stored choice's button and sets the OCR box; at start-up.
void restore(Form1& form);

// "Make text searchable (OCR)" (Check1) on the same row: stored under "Ocr" as "True" or
// "False" after every click and read at start-up; missing or unreadable means off. The languages
// come from "OcrLanguages" (such as "eng+deu"); missing or empty means English and the user's
// locale language where its data is installed.
inline constexpr char kOcrSetting[] = "Ocr";
inline constexpr char kOcrLanguagesSetting[] = "OcrLanguages";

bool storedOcr();
// The stored languages, "" for the default ones.
QString storedOcrLanguages();

// Rows converted at once: "Jobs", read by engine::jobsFromSetting.
inline constexpr char kJobsSetting[] = "Jobs";
int storedJobs();

// The direct route's grey and colour pages: "ColourPages", "Compound" or "Layer" (missing or
// unknown: Compound).
engine::ColourPages storedColourPages();

engine::Route routeOf(Encoder encoder);

// The stored choices: the route, the text layer (box and languages), the jobs, the colour
// pages and the lossy mode.
engine::RunChoices storedChoices();
// What the window shows: its encoder buttons and text box, with the stored languages and jobs.
// Through a PDF a missing "Jobs" (or one that is not a number) means 1, not the cores.
engine::RunChoices chosenChoices(const Form1& form);
// The check box's click handler: stores its state.
void Check1_Click(Form1& form);

// "Join all files into one document" (Check2), on the same row: stored under "Join" as "True"
// or "False"; missing or unreadable means off. When set, "Start Converting" makes one document.
inline constexpr char kJoinSetting[] = "Join";
bool storedJoin();
void Check2_Click(Form1& form);

// "Smaller black-and-white pages (lossy)" (Check3), on the same row: stored under "Lossy" as
// "True" or "False"; missing or unreadable means off. It codes the direct route's bitonal pages
// lossy, so it is enabled only while the direct route is chosen; the route through a PDF is the
// same with it as without.
inline constexpr char kLossySetting[] = "Lossy";
bool storedLossy();
void Check3_Click(Form1& form);

void connect(Form1& form);

} // namespace encoderchoice
} // namespace vormelle
