#include "app/handlers.h"

#include "app/form1.h"
#include "app/listview.h"
#include "convert/conversion.h"
#include "inputs/addfiles.h"
#include "inputs/filelist.h"

namespace vormelle {

void connectHandlers(Form1& form) {
    filelist::connect(form);
    addfiles::connect(form);
    conversion::connect(form);
    // Until the start-up sequence creates it, the column is made with the window.
    form.ListView1->addColumn(QStringLiteral("TIFF File(s)"), form.twipsX(7300));
}

} // namespace vormelle
