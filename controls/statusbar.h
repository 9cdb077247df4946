#pragma once

#include <QByteArray>
#include <QStatusBar>

// Status bar at the bottom of the client area. It has no panels and is not in
// simple-panel mode, so its simple text is held but not drawn.
class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent);

    const QByteArray& SimpleText() const { return m_simpleText; }
    void SetSimpleText(const QByteArray& text);

signals:
    // Every write of the simple text, also of an equal one.
    void SimpleTextWritten(const QByteArray& text);

private:
    QByteArray m_simpleText;
};
