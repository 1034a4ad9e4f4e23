#pragma once
// A session log in a scratch folder for one test that reads its entries back without their
// time stamps, in file order.
#include "log/session_log.h"
#include "tests/support/test_support.h"

#include <QStringList>

namespace stbtest {
// Base first, so the folder exists before the log that writes into it.
struct ScratchDirHolder {
    ScratchDir scratch;
};
} // namespace stbtest

class SessionLogCapture : private stbtest::ScratchDirHolder, public SessionLog {
public:
    SessionLogCapture();
    ~SessionLogCapture();
    SessionLogCapture(const SessionLogCapture&) = delete;
    SessionLogCapture& operator=(const SessionLogCapture&) = delete;

    // Every entry: normal ones as their text, error ones as "###### text".
    QStringList entries() const;
    // Only the procedure's own step entries: COMMAND, RESULT, INFO and the errors.
    QStringList steps() const;
};
