#pragma once
// What the main window does with every block of telnet output: put it into the network view
// line by line, copy each piece into the session log, and notice the end of the archive
// download. Runs on the UI thread only.
#include "app/main_view.h"

#include <QString>

// Set when the last line of the network view holds DownloadDoneMarker; cleared by the
// installation procedure before it starts the download. UI thread only.
extern bool DownloadComplete;

// The last progress line the receiver's download tool prints for a complete transfer.
extern const QString DownloadDoneMarker;

// Appends text to the view: each CR ends the view's last line (an LF right behind it in the same
// block is dropped); text after the last CR stays on the last line for the next block to go on
// filling. Every piece between CRs is written to the session log, empty ones too. An empty text
// only makes sure the view has a line. Never throws.
void Telnet1DataAvailable(MainView& view, const QString& text);
