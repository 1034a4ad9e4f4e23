#pragma once
// Pure helpers the receiver jobs share: the check of an address before it is typed into the
// receiver's root shell, and the reading of what the receiver's start script holds, asked
// with grep and closed by an end marker so the end of the answer is certain.
//
// Every job that types an address calls plainAddress first; nothing here sends or shows
// anything, so a job can call it before it has touched the receiver at all.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// text with surrounding blanks trimmed when it is a dotted IPv4 address: four decimal numbers
// 0..255 separated by single dots. A number with a leading zero ("010") is refused: the
// receiver's ifconfig would read it as octal and set another address than the one shown.
// Anything else (blanks, a fifth part, a shell command after the address) gives nullopt.
std::optional<QString> plainAddress(const QString& text);

// The marker echoed after a question to the receiver. The command sends it split by an
// empty quote pair, so the echoed command line never equals the marker and only the shell's
// own output of echo can end the answer.
extern const QString kAnswerEnd;
// Shell command that prints every line of script holding "ifconfig" numbered (grep -n), then
// the number of lines of the script, then the end marker.
QString ifconfigQuery(const QString& script);
// Shell command that prints the numbered lines of script holding "ifconfig", "ramdisk" or
// "proftpd", then the end marker.
QString ftpLinesQuery(const QString& script);

struct NumberedLine {
    int number = 0;
    QString text;
    bool operator==(const NumberedLine&) const = default;
};

struct ScriptAnswer {
    QList<NumberedLine> lines; // grep -n output, in order
    int lineCount = -1;        // a bare number line (the script's length), -1 when none came
};

// The answer in the lines the receiver printed after a query was sent (the echoed command
// line first, as the console shows it). nullopt when the end marker is not among them.
std::optional<ScriptAnswer> parseScriptAnswer(const QStringList& received);

// The vi keys that give the script exactly one "ifconfig eth0 " + address line, from the
// answer to ifconfigQuery before vi was opened: every key group after "vi start.sh" up to
// and including the Escape that ends insert mode. newLine ends in "\r".
// - one "ifconfig" line in the whole script, an eth0 one, not the script's last line: the
//   search, delete and insert of the short script (the new line takes the old one's place);
// - no eth0 line: the new line goes above the script's last line;
// - otherwise (several lines, one beyond the first screen is no matter, or the last line):
//   the new line goes in above the first eth0 line by its number, then every old eth0 line
//   is deleted by its number, bottom up, so no number shifts before it is used.
QList<QByteArray> ifconfigEditKeys(const ScriptAnswer& before, const QByteArray& newLine);

// True when the script holds exactly one line with "ifconfig eth0" and that line is
// "ifconfig eth0 " + address (surrounding blanks aside).
bool holdsOnlyAddress(const ScriptAnswer& after, const QString& address);

// The three lines that unpack and start the FTP server, in their order.
QStringList ftpStartLines();
// True when the three lines stand right below a line holding "ifconfig".
bool ftpLinesFollowIfconfig(const ScriptAnswer& after);

class Dialogs;
class MessageCatalogue;
class SessionLog;

// The one helper here that reports: the checked address, or nullopt after the error entry
// `<field> "<text>" is not a valid ip address ! --> EXIT` and the InvalidAddress error box.
// field names the input in the log, e.g. "ip address for ufs910" or "own ip address".
std::optional<QString> checkedAddressOrReport(const QString& text, const QString& field,
                                              SessionLog& log, Dialogs& dialogs,
                                              const MessageCatalogue& messages);
