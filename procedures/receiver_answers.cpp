#include "procedures/receiver_answers.h"

#include "core/dialogs.h"
#include "core/message_catalogue.h"
#include "log/session_log.h"

#include <QRegularExpression>

namespace {

const QString kEth0 = QStringLiteral("ifconfig eth0");

// "STBMATE-''END" on the command line, "STBMATE-END" in echo's output.
QString echoEnd() {
    return QStringLiteral("echo STBMATE-''END");
}

bool isEth0Line(const NumberedLine& line) {
    return line.text.contains(kEth0);
}

} // namespace

const QString kAnswerEnd = QStringLiteral("STBMATE-END");

std::optional<QString> plainAddress(const QString& text) {
    const QString address = text.trimmed();
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return std::nullopt;
        int value = 0;
        for (const QChar ch : part) {
            if (ch < u'0' || ch > u'9')
                return std::nullopt;
            value = value * 10 + (ch.unicode() - u'0');
        }
        if (value > 255)
            return std::nullopt;
    }
    return address;
}

QString ifconfigQuery(const QString& script) {
    return QStringLiteral("grep -n ifconfig %1; grep -c '' %1; ").arg(script) + echoEnd();
}

QString ftpLinesQuery(const QString& script) {
    return QStringLiteral("grep -n -e ifconfig -e ramdisk -e proftpd %1; ").arg(script) + echoEnd();
}

std::optional<ScriptAnswer> parseScriptAnswer(const QStringList& received) {
    static const QRegularExpression numbered(QStringLiteral("^(\\d+):(.*)$"));
    static const QRegularExpression count(QStringLiteral("^\\d+$"));
    ScriptAnswer answer;
    for (const QString& raw : received) {
        const QString line = raw.trimmed();
        if (line == kAnswerEnd)
            return answer;
        if (const QRegularExpressionMatch m = numbered.match(line); m.hasMatch()) {
            answer.lines.append({m.captured(1).toInt(), m.captured(2)});
        } else if (count.match(line).hasMatch()) {
            answer.lineCount = line.toInt();
        }
    }
    return std::nullopt;
}

QList<QByteArray> ifconfigEditKeys(const ScriptAnswer& before, const QByteArray& newLine) {
    const QByteArray escape(1, '\x1B');
    QList<int> eth0;
    for (const NumberedLine& line : before.lines) {
        if (isEth0Line(line))
            eth0.append(line.number);
    }
    const bool onlyOne = before.lines.size() == 1 && eth0.size() == 1;
    if (onlyOne && eth0.first() != before.lineCount)
        return {QByteArrayLiteral("/ifconfig\r"), QByteArrayLiteral("dd"), QByteArrayLiteral("i"),
                newLine, escape};
    if (eth0.isEmpty())
        return {QByteArrayLiteral("G"), QByteArrayLiteral("i"), newLine, escape};

    QList<QByteArray> keys = {QByteArray::number(eth0.first()) + 'G', QByteArrayLiteral("i"),
                              newLine, escape};
    // The new line pushed every old one down by one.
    for (qsizetype i = eth0.size() - 1; i >= 0; --i) {
        keys.append(QByteArray::number(eth0[i] + 1) + 'G');
        keys.append(QByteArrayLiteral("dd"));
    }
    return keys;
}

bool holdsOnlyAddress(const ScriptAnswer& after, const QString& address) {
    int eth0Lines = 0;
    bool carriesAddress = false;
    for (const NumberedLine& line : after.lines) {
        if (!isEth0Line(line))
            continue;
        ++eth0Lines;
        carriesAddress = line.text.trimmed() == kEth0 + QLatin1Char(' ') + address;
    }
    return eth0Lines == 1 && carriesAddress;
}

QStringList ftpStartLines() {
    return {QStringLiteral("cd /ramdisk"), QStringLiteral("tar xjf /data/proftpd.tar.bz2"),
            QStringLiteral("/ramdisk/proftpd/proftpd -c /ramdisk/proftpd/proftpd.conf")};
}

bool ftpLinesFollowIfconfig(const ScriptAnswer& after) {
    const QStringList wanted = ftpStartLines();
    const QList<NumberedLine>& lines = after.lines;
    for (qsizetype i = 0; i + 3 < lines.size(); ++i) {
        if (!lines[i].text.contains(QLatin1String("ifconfig")))
            continue;
        bool follow = true;
        for (qsizetype k = 0; k < 3 && follow; ++k) {
            const NumberedLine& next = lines[i + 1 + k];
            follow = next.number == lines[i].number + 1 + int(k) && next.text == wanted[k];
        }
        if (follow)
            return true;
    }
    return false;
}

std::optional<QString> checkedAddressOrReport(const QString& text, const QString& field,
                                              SessionLog& log, Dialogs& dialogs,
                                              const MessageCatalogue& messages) {
    if (std::optional<QString> address = plainAddress(text))
        return address;
    log.WriteLogError(
        QStringLiteral("%1 \"%2\" is not a valid ip address ! --> EXIT").arg(field, text));
    dialogs.showError(messages.text(MessageId::InvalidAddress));
    return std::nullopt;
}
