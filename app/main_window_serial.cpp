// The serial port's place in the main window: ComPort1, its port number and the serial half
// of the check button.
#include "app/main_window.h"

void TForm1::createComPort1() {}

void TForm1::applyPortNumber(int portNumber) {
    Q_UNUSED(portNumber);
}

std::optional<bool> TForm1::runSerialCheck() {
    return std::nullopt;
}
