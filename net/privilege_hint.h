#pragma once
// What to tell a user when the system refused something this program needs from it. The
// program itself never carries a capability and never asks to run as root: the only file that
// is granted anything is the port helper, so that is the only command a hint names.
#include <QString>

// For a refused port 69: one sentence naming the setcap command for the helper at helperPath.
QString portHelperHint(const QString& helperPath);

// The same for the helper beside the running program (portHelperPath()).
QString portHelperHintForThisProgram();

// For an echo that could not be sent at all: the system's ping program, or ICMP sockets for
// the user's group.
QString echoHint();
