#pragma once
// What the main window does with every block of telnet output: put it into the network view
// line by line and copy each piece into the session log.
// Runs on the UI thread only; costs time in the block's length, not the view's.
#include "core/main_view.h"
#include "log/session_log.h"

#include <QString>

// Appends text to the view: each CR ends the view's last line (an LF right behind it in the same
// block is dropped); text after the last CR stays on the last line for the next block to go on
// filling. Every piece between CRs is written to the session log, empty ones too. An empty text
// only makes sure the view has a line. Never throws.
void showTelnetOutput(MainView& view, SessionLog& log, const QString& text);
