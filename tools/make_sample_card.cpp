// Writes a sample camera card into a folder, so that a first run has a
// device to open: pictures in DCIM subfolders taken on several days, a short
// video, a sound recording and one file over 100 MB.
//
//   make_sample_card FOLDER

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <utime.h>

namespace {

bool SetTime(const QString &path, const QDateTime &when)
{
    const time_t t = time_t(when.toSecsSinceEpoch());
    utimbuf times{t, t};
    return utime(QFile::encodeName(path).constData(), &times) == 0;
}

bool WritePicture(const QString &path, int number, const QDateTime &when)
{
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 640, 480);
    gradient.setColorAt(0, QColor::fromHsv((number * 37) % 360, 160, 230));
    gradient.setColorAt(1, QColor::fromHsv((number * 37 + 120) % 360, 200, 120));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(40);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter,
                     QStringLiteral("Sample %1\n%2").arg(number).arg(when.toString(QStringLiteral("yyyy-MM-dd hh:mm"))));
    painter.end();
    return image.save(path, "JPG", 85) && SetTime(path, when);
}

// A mono 16-bit PCM recording of a tone.
bool WriteSound(const QString &path, const QDateTime &when)
{
    const int rate = 22050, seconds = 2;
    QByteArray samples;
    for (int i = 0; i < rate * seconds; ++i) {
        const qint16 v = qint16(8000 * std::sin(2 * M_PI * 440 * i / rate));
        samples.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    }
    auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    QByteArray wav = "RIFF" + u32(36 + quint32(samples.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) +
                     u32(rate * 2) + u16(2) + u16(16) + "data" + u32(quint32(samples.size())) + samples;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(wav) == wav.size() && (f.close(), SetTime(path, when));
}

// Bytes that stand in for a video clip: the program copies data, it never plays it.
bool WriteClip(const QString &path, qint64 size, const QDateTime &when)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131 + 7) & 0xFF);
    block.replace(0, 8, "\0\0\0\x14" "ftyp");
    for (qint64 written = 0; written < size;) {
        const qint64 n = qMin<qint64>(block.size(), size - written);
        if (f.write(block.constData(), n) != n)
            return false;
        written += n;
        block[8] = char(written >> 20);  // no two blocks alike
    }
    f.close();
    return SetTime(path, when);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_card FOLDER\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString camera1 = root + QStringLiteral("/DCIM/100CANON");
    const QString camera2 = root + QStringLiteral("/DCIM/101CANON");
    if (!QDir().mkpath(camera1) || !QDir().mkpath(camera2) || !QDir().mkpath(root + QStringLiteral("/MISC"))) {
        std::fprintf(stderr, "cannot create folders in %s\n", argv[1]);
        return 1;
    }
    const QDateTime days[] = {QDateTime(QDate(2016, 8, 13), QTime(10, 20)), QDateTime(QDate(2016, 8, 14), QTime(9, 5)),
                              QDateTime(QDate(2017, 1, 2), QTime(15, 45))};
    bool ok = true;
    for (int i = 1; i <= 36; ++i) {
        const QDateTime when = days[(i - 1) / 12].addSecs(i * 95);
        const QString folder = i <= 24 ? camera1 : camera2;
        ok &= WritePicture(folder + QStringLiteral("/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')), i, when);
    }
    ok &= WritePicture(camera2 + QStringLiteral("/Straße_über_写真.JPG"), 99, days[2].addSecs(3600));
    ok &= WriteSound(camera1 + QStringLiteral("/REC_0001.WAV"), days[0].addSecs(7200));
    ok &= WriteClip(camera2 + QStringLiteral("/MVI_0037.MOV"), 3 << 20, days[2].addSecs(4000));
    ok &= WriteClip(camera2 + QStringLiteral("/MVI_0038.MOV"), 120ll << 20, days[2].addSecs(5000));
    QFile note(root + QStringLiteral("/MISC/readme.txt"));
    ok &= note.open(QIODevice::WriteOnly) && note.write("A sample camera card made by Ferrovane's run script.\n") > 0;
    note.close();
    if (!ok) {
        std::fprintf(stderr, "could not write the sample card in %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", argv[1]);
    return 0;
}
