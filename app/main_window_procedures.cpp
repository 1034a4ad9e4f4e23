// The receiver jobs' place in the main window: the three menu commands and the port
// label's context click.
#include "app/main_window.h"

void TForm1::createProcedures() {}

void TForm1::IPAdressesetzenndern1Click() {}

void TForm1::FTPServerinstallieren1Click() {}

void TForm1::NotfallImageaufspielen1Click() {}

void TForm1::Label3ContextPopup(const QPoint& pos) {
    Q_UNUSED(pos);
}
