#pragma once

#include "base/events.h"

#include <QByteArray>
#include <QPixmap>
#include <QPushButton>

// Push button with a caption and a glyph. The glyph's lower-left pixel colour
// is transparent; a disabled button shows the glyph greyed. Also serves as the
// plain button (no glyph): focusable, Enter or Space presses it.
class TBitBtn : public QPushButton {
    Q_OBJECT
public:
    enum class TLayout { GlyphTop, GlyphLeft };

    explicit TBitBtn(QWidget* parent);

    const QByteArray& Caption() const { return m_caption; }
    void SetCaption(const QByteArray& caption);
    // Loads the glyph from a resource path.
    void SetGlyph(const QString& path);
    void SetLayout(TLayout layout) { m_layout = layout; }

    TNotifyEvent OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QByteArray m_caption;
    QPixmap m_glyph;
    TLayout m_layout = TLayout::GlyphLeft;
};

// The plain push button of the About window.
using TButton = TBitBtn;
