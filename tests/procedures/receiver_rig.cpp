#include "tests/procedures/receiver_rig.h"

ReceiverRig::ReceiverRig() {
    for (int n = 1; n <= MessageCatalogue::kCount; ++n)
        messages.setText(n, QStringLiteral("M%1").arg(n));
    view.setReceiverAddress(QStringLiteral("192.168.1.50"));
}

bool ReceiverRig::start(const stbsim::ReceiverSimulator::Options& options, QString* error) {
    if (!sim.start(options, error))
        return false;
    comPort.setDevicePath(sim.portPath());
    try {
        comPort.Open();
    } catch (const EPortException& e) {
        *error = e.message();
        return false;
    }
    return true;
}

QStringList ReceiverRig::configLines(const QString& name) const {
    const std::optional<QByteArray> contents = sim.configFile(name);
    if (!contents)
        return {};
    return QString::fromUtf8(*contents).split(QLatin1Char('\n'));
}

namespace {
QStringList runSteps(const QString& command, const QString& result) {
    return {QStringLiteral("****** COMMAND: set ip address ******"),
            QStringLiteral("****** COMMAND: check serial connection ******"),
            QStringLiteral("****** RESULT: serial connection ok ******"),
            QStringLiteral("****** COMMAND: STRG C ******"),
            QStringLiteral("****** RESULT: \"/config #\" was found ******"),
            command,
            result};
}
} // namespace

QStringList createRunSteps() {
    return runSteps(QStringLiteral("****** COMMAND: create new start.sh ******"),
                    QStringLiteral("****** RESULT: IP-address successfully set ******"));
}

QStringList editRunSteps() {
    return runSteps(QStringLiteral("****** COMMAND: edit existing start.sh ******"),
                    QStringLiteral("****** RESULT: IP-address successfully changed ******"));
}
