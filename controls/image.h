#pragma once

#include <QPixmap>
#include <QWidget>

// Picture control. Stretch scales the picture to fill the control, otherwise
// it is drawn at its own size from the top left. Transparent leaves out the
// colour of the picture's lower-left pixel.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent);

    // Takes the picture's resource path; the picture is decoded when first
    // drawn or asked for, so one in a hidden window costs nothing until then.
    void LoadPicture(const QString& path);
    void SetStretch(bool stretch) { m_stretch = stretch; }
    void SetTransparent(bool transparent);
    const QPixmap& Picture() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_path;
    mutable QPixmap m_picture; // decoded from m_path on first use
    QPixmap m_shown;           // m_picture, masked when transparent
    bool m_stretch = false;
    bool m_transparent = false;
};
