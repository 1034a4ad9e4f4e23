#pragma once
// What to tell a user whose port 80 or 69 or raw ICMP socket was refused: Linux keeps them
// for root and for programs given the capability, and the package deliberately grants none.
#include <QString>

// One sentence naming the setcap command for programPath, or a root shell.
QString PrivilegeHint(const QString& programPath);

// The same for the running program, its real path read from /proc/self/exe (so a symlink or
// a copy in a build tree is named as it really is).
QString PrivilegeHintForThisProgram();
