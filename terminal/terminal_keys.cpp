// Qt key events to the system key codes the emulator's key map is written in.
#include "terminal/terminal_widget.h"

namespace {

// System key codes used below.
enum : int {
    VkBack = 8,
    VkTab = 9,
    VkClear = 12,
    VkReturn = 13,
    VkPause = 19,
    VkCapital = 20,
    VkEscape = 27,
    VkSpace = 32,
    VkPrior = 33,
    VkNext = 34,
    VkEnd = 35,
    VkHome = 36,
    VkLeft = 37,
    VkUp = 38,
    VkRight = 39,
    VkDown = 40,
    VkSelect = 41,
    VkExecute = 43,
    VkSnapshot = 44,
    VkInsert = 45,
    VkDelete = 46,
    VkHelp = 47,
    VkNumpad0 = 96,
    VkMultiply = 106,
    VkAdd = 107,
    VkSubtract = 109,
    VkDecimal = 110,
    VkDivide = 111,
    VkF1 = 112,
    VkNumLock = 144,
    VkScroll = 145,
};

// The keypad with Num Lock off: navigation keys stand for the digit printed beside them.
int keypadNavigationDigit(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Insert:
        return VkNumpad0;
    case Qt::Key_End:
        return VkNumpad0 + 1;
    case Qt::Key_Down:
        return VkNumpad0 + 2;
    case Qt::Key_PageDown:
        return VkNumpad0 + 3;
    case Qt::Key_Left:
        return VkNumpad0 + 4;
    case Qt::Key_Clear:
        return VkNumpad0 + 5;
    case Qt::Key_Right:
        return VkNumpad0 + 6;
    case Qt::Key_Home:
        return VkNumpad0 + 7;
    case Qt::Key_Up:
        return VkNumpad0 + 8;
    case Qt::Key_PageUp:
        return VkNumpad0 + 9;
    case Qt::Key_Delete:
        return VkDecimal;
    default:
        return 0;
    }
}

int keypadKey(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return VkNumpad0 + (qtKey - Qt::Key_0);
    switch (qtKey) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        return VkExecute;
    case Qt::Key_Asterisk:
        return VkMultiply;
    case Qt::Key_Plus:
        return VkAdd;
    case Qt::Key_Minus:
        return VkSubtract;
    case Qt::Key_Slash:
        return VkDivide;
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return VkDecimal;
    case Qt::Key_NumLock:
        return VkNumLock;
    default:
        return keypadNavigationDigit(qtKey);
    }
}

int mainKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return VkF1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace:
        return VkBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VkTab;
    case Qt::Key_Clear:
        return VkClear;
    case Qt::Key_Return:
        return VkReturn;
    case Qt::Key_Enter: // a keypad Enter that came without the keypad flag
        return VkExecute;
    case Qt::Key_Pause:
        return VkPause;
    case Qt::Key_CapsLock:
        return VkCapital;
    case Qt::Key_Escape:
        return VkEscape;
    case Qt::Key_Space:
        return VkSpace;
    case Qt::Key_PageUp:
        return VkPrior;
    case Qt::Key_PageDown:
        return VkNext;
    case Qt::Key_End:
        return VkEnd;
    case Qt::Key_Home:
        return VkHome;
    case Qt::Key_Left:
        return VkLeft;
    case Qt::Key_Up:
        return VkUp;
    case Qt::Key_Right:
        return VkRight;
    case Qt::Key_Down:
        return VkDown;
    case Qt::Key_Select:
        return VkSelect;
    case Qt::Key_Execute:
        return VkExecute;
    case Qt::Key_Print:
        return VkSnapshot;
    case Qt::Key_Insert:
        return VkInsert;
    case Qt::Key_Delete:
        return VkDelete;
    case Qt::Key_Help:
        return VkHelp;
    case Qt::Key_NumLock:
        return VkNumLock;
    case Qt::Key_ScrollLock:
        return VkScroll;
    default:
        return 0;
    }
}

} // namespace

TerminalKey translateKey(int qtKey, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    TerminalKey key;
    key.shift = modifiers.testFlag(Qt::ShiftModifier);
    key.ctrl = modifiers.testFlag(Qt::ControlModifier);
    key.alt = modifiers.testFlag(Qt::AltModifier);
    key.repeat = autoRepeat;
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
        return key; // modifiers alone mean nothing to the terminal
    default:
        break;
    }
    key.keyCode = modifiers.testFlag(Qt::KeypadModifier) ? keypadKey(qtKey) : mainKey(qtKey);
    return key;
}
