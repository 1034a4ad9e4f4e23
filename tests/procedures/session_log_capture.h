#pragma once
// Points the session log at a scratch folder for one test and reads the entries back
// without their time stamps, in file order.
#include "tests/support/test_support.h"

#include <QStringList>

class SessionLogCapture {
public:
    SessionLogCapture();
    ~SessionLogCapture();
    SessionLogCapture(const SessionLogCapture&) = delete;
    SessionLogCapture& operator=(const SessionLogCapture&) = delete;

    // Every entry: normal ones as their text, error ones as "###### text".
    QStringList entries() const;
    // Only the procedure's own step entries: COMMAND, RESULT, INFO and the errors.
    QStringList steps() const;

private:
    stbtest::ScratchDir m_dir;
};
