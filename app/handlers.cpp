#include "app/handlers.h"

#include "app/form1.h"
#include "app/listview.h"
#include "inputs/addall.h"
#include "inputs/addfiles.h"
#include "inputs/dragdrop.h"
#include "inputs/filelist.h"
#include "output/outputoptions.h"

namespace vormelle {

void connectHandlers(Form1& form) {
    filelist::connect(form);
    addfiles::connect(form);
    addall::connect(form);
    dragdrop::connect(form);
    outputoptions::connect(form);
    // Until the start-up sequence creates it, the column is made with the window.
    form.ListView1->addColumn(QStringLiteral("TIFF File(s)"), form.twipsX(7300));
}

} // namespace vormelle
