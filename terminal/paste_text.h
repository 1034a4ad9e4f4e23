#pragma once
// What a paste may send, and what the user is asked first. Text from the clipboard is not
// typed by the user: a line with its line end runs at once in the receiver's shell, and a
// control character does what the user never saw (^U erases the line, ^C or ^D ends what
// runs, an end-of-paste marker lets the rest through as typed keys). So such a paste is shown
// with these characters made visible and sent only after a yes, and control characters other
// than TAB and the line end never go out at all.
#include <string>
#include <string_view>

namespace terminal {

struct PasteText {
    std::string bytes;    // what goes out: line ends as CR, no control character but TAB and CR
    bool ask = false;     // it holds a line end or a control character other than TAB
    bool dropped = false; // control characters were removed
    std::string shown;    // the pasted text as UTF-8, each such character visible (↵, ^U, <9B>)
};

// text is Latin-1, as the line carries it.
PasteText preparePaste(std::string_view text);

} // namespace terminal
