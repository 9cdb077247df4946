#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

class QPlainTextEdit;

// Multi-line text box. Its text is bytes, like TEdit's. Lines are counted
// with the file rules (CR LF, CR or LF end a line; a final break starts no
// further line; a line reads back at most 4096 bytes); long lines are kept
// whole, never wrapped into extra lines. The editor that shows the text is
// made when the box is first shown, so the hidden holders cost no editor and
// no layout.
class TMemo : public QWidget {
    Q_OBJECT
public:
    explicit TMemo(QWidget* parent);

    const QByteArray& Text() const { return m_text; }
    void SetText(const QByteArray& text);
    // Each line followed by CR LF, as a designed list of lines reads.
    void SetLines(const QList<QByteArray>& lines);
    void Clear() { SetText({}); }

    qsizetype LineCount() const { return m_lineCount; }
    // Line `index` (0-based, below LineCount()), cut at 4096 bytes. Costs a
    // walk over the lines before it.
    QByteArray Line(qsizetype index) const;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void MakeEditor();
    void Store(const QByteArray& text);
    void SyncDisplay();

    QByteArray m_text;
    qsizetype m_lineCount = 0;
    QPlainTextEdit* m_editor = nullptr;
    bool m_displayStale = false;
};
