// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/handlers.h"

#include "app/form1.h"
#include "app/program/windowkeys.h"
#include "app/windowsize.h"
#include "convert/conversion.h"
#include "inputs/addall.h"
#include "inputs/addfiles.h"
#include "inputs/dragdrop.h"
#include "inputs/filelist.h"
#include "inputs/samples.h"
#include "output/encoderchoice.h"
#include "output/outputoptions.h"

namespace vormelle {

void connectHandlers(Form1& form) {
    filelist::connect(form);
    addfiles::connect(form);
    conversion::connect(form, encoderchoice::chosenChoices);
    addall::connect(form);
    dragdrop::connect(form);
    samples::connect(form);
    outputoptions::connect(form);
    encoderchoice::connect(form);
    windowkeys::connect(form);
    windowsize::remember(form);
}

} // namespace vormelle
