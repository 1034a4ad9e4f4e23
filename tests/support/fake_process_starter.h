#pragma once
// Starting outside programs in tests: nothing is started. Each start is recorded as the program
// and its arguments joined by blanks, and answered with result (by default: could not start).
#include "app/process_starter.h"

class FakeProcessStarter : public ProcessStarter {
public:
    explicit FakeProcessStarter(bool result = false) : result(result) {}
    bool startDetached(const QString& program, const QStringList& arguments) override {
        started << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return result;
    }

    bool result;
    QStringList started;
};
