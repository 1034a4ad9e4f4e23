#pragma once
// The words the terminal shows besides the receiver's output: its context menu, the paste
// question, the save dialog and the find bar. German unless the owner gives others, so the
// terminal speaks the window's language.
#include <QString>

struct TerminalTexts {
    QString copy = QStringLiteral("Kopieren");
    QString paste = QStringLiteral("Einfügen");
    QString selectAll = QStringLiteral("Alles markieren");
    QString find = QStringLiteral("Suchen …");
    QString save = QStringLiteral("In Datei speichern …");
    QString saveTitle = QStringLiteral("In Datei speichern");
    QString saveFilter = QStringLiteral("Text (*.txt);;Alle Dateien (*)");
    QString cannotWrite = QStringLiteral("In %1 kann nicht geschrieben werden"); // %1 the file
    QString pasteQuestion = QStringLiteral("%1 Zeilen an den Receiver senden?"); // %1 lines
    QString pasteOneLine = QStringLiteral("1 Zeile an den Receiver senden?");
    QString pasteDropped =
        QStringLiteral("Steuerzeichen (als ^X oder <9B> gezeigt) werden nicht gesendet.");
    // %1 the file: a link another user planted where the text was to go.
    QString foreignLink = QStringLiteral(
        "%1 ist eine Verknüpfung eines anderen Benutzers; dorthin wird nicht gespeichert");
    QString findField = QStringLiteral("Suchen");
    QString findOlder = QStringLiteral("Vorheriger Treffer");
    QString findNewer = QStringLiteral("Nächster Treffer");
    QString findClose = QStringLiteral("Schließen");
    QString notFound = QStringLiteral("nicht gefunden");
};
