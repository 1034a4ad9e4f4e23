#pragma once
// The port chooser for tests: answers every question with answer and counts the questions.
#include "core/port_chooser.h"

#include <QString>

#include <optional>

struct ScriptedChooser : PortChooser {
    std::optional<QString> answer;
    int asked = 0;
    std::optional<QString> choosePort() override {
        ++asked;
        return answer;
    }
};
