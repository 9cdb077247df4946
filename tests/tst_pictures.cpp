#include "app/application.h"

#include <QColor>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTest>

// The pictures are fixed by name and size; glyphs and the logo are drawn
// transparent by the colour of their lower-left pixel.
class TestPictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void resourceHoldsExactlyThesePictures();
    void pictureIs24BitRgb_data();
    void pictureIs24BitRgb();
    void keyColourLeavesTheMotif_data();
    void keyColourLeavesTheMotif();
    void applicationIconIsThe64PixelPicture();
};

namespace {

struct Picture {
    const char* name;
    QSize size;
    bool keyed; // lower-left pixel colour is not drawn
};

const Picture pictures[] = {
    {"icon.png", {64, 64}, false},           {"glyph_connect.png", {17, 16}, true},
    {"glyph_starttest.png", {16, 16}, true}, {"glyph_disconnect.png", {18, 16}, true},
    {"glyph_exit.png", {29, 27}, true},      {"glyph_open.png", {32, 32}, true},
    {"logo.png", {154, 104}, true},          {"about.png", {291, 195}, false},
};

QString ResourcePath(const char* name) {
    return QStringLiteral(":/") + QLatin1String(name);
}

} // namespace

void TestPictures::initTestCase() {
    Application(); // registers the library's resources
}

void TestPictures::resourceHoldsExactlyThesePictures() {
    QSet<QString> expected;
    for (const Picture& picture : pictures)
        expected.insert(ResourcePath(picture.name));
    QSet<QString> found;
    for (QDirIterator it(QStringLiteral(":/"), {QStringLiteral("*.png")}, QDir::Files);
         it.hasNext();)
        found.insert(it.next());
    QCOMPARE(found, expected);
}

void TestPictures::pictureIs24BitRgb_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const Picture& picture : pictures)
        QTest::newRow(picture.name) << ResourcePath(picture.name) << picture.size;
}

void TestPictures::pictureIs24BitRgb() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // IHDR right after the signature: bit depth 8, colour type 2 (RGB, no
    // alpha, no palette).
    const QByteArray head = file.read(26);
    QCOMPARE(head.size(), 26);
    QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(int(head.at(24)), 8);
    QCOMPARE(int(head.at(25)), 2);

    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QVERIFY(!image.hasAlphaChannel());
    QVERIFY(image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_RGB888);
}

void TestPictures::keyColourLeavesTheMotif_data() {
    QTest::addColumn<QString>("path");
    for (const Picture& picture : pictures)
        if (picture.keyed)
            QTest::newRow(picture.name) << ResourcePath(picture.name);
}

void TestPictures::keyColourLeavesTheMotif() {
    QFETCH(QString, path);
    const QImage image(path);
    const QRgb key = image.pixel(0, image.height() - 1);
    qsizetype motif = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            motif += image.pixel(x, y) != key;
    // A motif that shares the key colour would show holes; one drawn in it
    // would vanish. Each picture's motif covers a good part of it.
    const qsizetype all = qsizetype(image.width()) * image.height();
    QVERIFY2(motif * 5 >= all,
             qPrintable(QStringLiteral("%1 of %2 pixels drawn").arg(motif).arg(all)));
    QVERIFY(motif < all);
}

void TestPictures::applicationIconIsThe64PixelPicture() {
    const QIcon icon = Application().Icon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(64, 64)});
}

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
