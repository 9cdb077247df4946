#include "base/exceptions.h"
#include "sequencing/definition_file.h"
#include "test_support.h"

#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class TestDefinition : public QObject {
    Q_OBJECT

private slots:
    void splitLine_data();
    void splitLine();
    void readsTextUpToNul();
    void readsLargeAndJunkFiles();
    void refusesWhatCannotBeOpened_data();
    void refusesWhatCannotBeOpened();
    void refusesFileLockedByWriter();
};

void TestDefinition::splitLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qsizetype>("index"); // where the line stands in its file
    QTest::addColumn<int>("slot");        // the slot it binds to; 0: none
    QTest::newRow("item") << QByteArray("Read Firmware=[0A!?v]") << QByteArray("Read Firmware")
                          << QByteArray("[0A!?v]") << qsizetype(2) << 1;
    QTest::newRow("no equals") << QByteArray("127.0.0.1") << QByteArray() << QByteArray("127.0.0.1")
                               << qsizetype(0) << 0;
    QTest::newRow("ends in equals")
        << QByteArray("Label=") << QByteArray("Label") << QByteArray() << qsizetype(3) << 2;
    QTest::newRow("starts with equals")
        << QByteArray("=cmd") << QByteArray() << QByteArray("cmd") << qsizetype(1) << 0;
    QTest::newRow("two equals") << QByteArray("a=b=c") << QByteArray("a=b") << QByteArray("c")
                                << qsizetype(19) << 18;
    QTest::newRow("blanks kept") << QByteArray(" a = b ") << QByteArray(" a ") << QByteArray(" b ")
                                 << qsizetype(10) << 9;
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << qsizetype(4) << 3;
    // A 25-line file binds exactly 18 items: its last line goes nowhere.
    QTest::newRow("after the eighteenth item")
        << QByteArray("Item 23=[c23]") << QByteArray("Item 23") << QByteArray("[c23]")
        << qsizetype(24) << 0;
}

void TestDefinition::splitLine() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, value);
    QFETCH(qsizetype, index);
    QFETCH(int, slot);
    const TDefinitionLine split = SplitDefinitionLine(line);
    QCOMPARE(split.label, label);
    QCOMPARE(split.value, value);
    QCOMPARE(BindDefinitionLine(index).slot, slot);
}

void TestDefinition::readsTextUpToNul() {
    WorkingFolder folder;
    folder.Write(QStringLiteral("a.tst"), QByteArray("IP=1\r\nPort=2\0tail\r\nmore", 24));
    QCOMPARE(ReadDefinitionFile(QStringLiteral("a.tst")), QByteArray("IP=1\r\nPort=2"));
    folder.Write(QStringLiteral("b.tst"), QByteArray("\xff\xfe"
                                                     "bytes\x80=\x01\x02",
                                                     11));
    QCOMPARE(ReadDefinitionFile(QStringLiteral("b.tst")), QByteArray("\xff\xfe"
                                                                     "bytes\x80=\x01\x02",
                                                                     11));
}

void TestDefinition::readsLargeAndJunkFiles() {
    WorkingFolder folder;
    const QByteArray big =
        QByteArray(4 * 1024 * 1024, 'x') + "\n" + QByteArray(4 * 1024 * 1024, '=');
    folder.Write(QStringLiteral("big.tst"), big);
    QCOMPARE(ReadDefinitionFile(QStringLiteral("big.tst")).size(), big.size());

    QByteArray junk(256 * 1024, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (char& c : junk)
        c = char(random.bounded(256));
    folder.Write(QStringLiteral("junk.tst"), junk);
    const QByteArray read = ReadDefinitionFile(QStringLiteral("junk.tst"));
    QVERIFY(junk.startsWith(read));
    QVERIFY(!read.contains('\0'));
}

void TestDefinition::refusesWhatCannotBeOpened_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("default1.tst");
    QTest::newRow("folder") << QStringLiteral("sub");
    QTest::newRow("fifo") << QStringLiteral("pipe.tst");
    QTest::newRow("empty name") << QString();
}

void TestDefinition::refusesWhatCannotBeOpened() {
    QFETCH(QString, name);
    WorkingFolder folder;
    QDir().mkdir(QStringLiteral("sub"));
    QCOMPARE(::mkfifo("pipe.tst", 0600), 0);
    const qsizetype before = OpenDescriptorCount();
    try {
        ReadDefinitionFile(name);
        QFAIL("opened");
    } catch (const EFOpenError& error) {
        QCOMPARE(error.Message(), "Cannot open file " + name.toUtf8());
        QVERIFY(!error.Reason().isEmpty());
    }
    QCOMPARE(OpenDescriptorCount(), before);
}

void TestDefinition::refusesFileLockedByWriter() {
    WorkingFolder folder;
    const QString path = folder.Write(QStringLiteral("held.tst"), "IP=1\nPort=2\n");
    int ready[2];
    int release[2];
    QCOMPARE(::pipe(ready), 0);
    QCOMPARE(::pipe(release), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        // Another program holding the file open for writing, with a lock.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(fd, F_SETLK, &lock);
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c;
    QCOMPARE(::read(ready[0], &c, 1), 1);
    QVERIFY_THROWS_EXCEPTION(EFOpenError, ReadDefinitionFile(path));
    QCOMPARE(::write(release[1], &c, 1), 1);
    ::waitpid(writer, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
    QCOMPARE(ReadDefinitionFile(path), QByteArray("IP=1\nPort=2\n"));
}

QTEST_MAIN(TestDefinition)
#include "tst_definition.moc"
