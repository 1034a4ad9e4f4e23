// The network components' place in the main window: Telnet1, HTTPServer1 and the network
// half of the check button.
#include "app/main_window.h"

void TForm1::createTelnet1() {}

void TForm1::createHTTPServer1() {}

std::optional<bool> TForm1::runNetworkCheck() {
    return std::nullopt;
}

void TForm1::releaseNetwork() {}
