// The terminal view's place in the main window: Terminal1 on page "Seriell".
#include "app/main_window.h"

void TForm1::createTerminal1() {}
