#pragma once
// What a received line may carry into the session log. The log is read with cat, less and
// tail -f; a terminal replaying it would act on whatever sequences the receiver sent (set the
// title, write the clipboard through OSC 52, erase the screen). So escape sequences go in
// whole and every other control character goes, except TAB, which is text.
#include <QString>
#include <QStringView>

// line without escape sequences (CSI, OSC, DCS and the like, up to their end or the line's
// end) and without control characters other than TAB.
QString cleanLogLine(QStringView line);
