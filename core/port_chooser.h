#pragma once
// Asked by the port when it has to open with no port configured. The real one is the
// "Select Port" dialog; tests answer from a script.
#include <QString>

#include <optional>

class PortChooser {
public:
    virtual ~PortChooser() = default;
    // A port text as the port selector takes it ("COM2", "/dev/ttyUSB0"), or std::nullopt
    // when the user cancelled or closed the dialog.
    virtual std::optional<QString> choosePort() = 0;
};
