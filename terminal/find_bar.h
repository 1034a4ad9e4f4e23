#pragma once
// The terminal's find bar: a text field with "older" and "newer" buttons laid over the
// terminal's top right corner. It only asks; the terminal searches and moves its view.
// Enter searches older (up the history, where a search usually goes), Shift+Enter newer,
// Esc closes.
#include "terminal/history_text.h"
#include "terminal/terminal_texts.h"

#include <QFrame>

class QLabel;
class QLineEdit;

class TFindBar : public QFrame {
    Q_OBJECT
public:
    explicit TFindBar(QWidget* parent);

    QString text() const;
    void setFound(bool found); // shows "nicht gefunden" when false
    void open();               // show, focus and select the text
    void setTexts(const TerminalTexts& texts);

signals:
    void findRequested(const QString& text, terminal::SearchDirection direction);
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_edit;
    QLabel* m_status;
    QString m_notFound;
};
