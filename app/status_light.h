#pragma once
// TStatusLight: a small square that is lime when lit and red when not, with a raised edge
// (white along top and left, grey 128 along right and bottom). Setting Lit to its current
// value does nothing, so a check that confirms the state causes no repaint.
#include <QColor>
#include <QWidget>

class TStatusLight : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Lit READ Lit WRITE setLit NOTIFY litChanged)

public:
    explicit TStatusLight(QWidget* parent = nullptr);

    bool Lit() const { return m_lit; }
    // A new value repaints at once and updates the accessible description
    // ("leuchtet" / "leuchtet nicht"); the current value is ignored.
    void setLit(bool lit);

    QColor LitColor() const { return m_litColor; }
    QColor NotLitColor() const { return m_notLitColor; }
    void setLitColor(const QColor& color);
    void setNotLitColor(const QColor& color);

    // Paint events received so far (lets tests check the no-repaint rule).
    int paintCount() const { return m_paintCount; }

    QSize sizeHint() const override { return QSize(17, 17); }

signals:
    void litChanged(bool lit);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateDescription();

    bool m_lit = false;
    QColor m_litColor{0, 255, 0};    // lime
    QColor m_notLitColor{255, 0, 0}; // red
    int m_paintCount = 0;
};
