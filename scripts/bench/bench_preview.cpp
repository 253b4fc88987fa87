// The preview through the real main window, offscreen, on a folder device of
// 1,000 photos (12-megapixel camera JPEGs with EXIF, and a 50-megapixel one):
//   (a) time from selecting a row to its final picture, for photos not seen before;
//   (b) the longest the window's event loop was blocked while the arrow key
//       walks 1,000 rows at key-repeat speed with the preview on, and how many
//       pictures that fetched; then 100 rows slowly, every picture shown.
//
//   bench_preview [FOLDER]   (the photos are made there once)

#include "PeakMemory.h"
#include "WindowBench.h"

#include "app/Application.h"
#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "base/FormatSettings.h"
#include "common/FormProbe.h"
#include "device/SystemDeviceService.h"
#include "preview/PreviewPanel.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPushButton>
#include <QPainter>
#include <QTimer>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kRows = 1000;

class Heartbeat
{
public:
    Heartbeat()
    {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = qMax(longest_, now - last_);
            last_ = now;
        });
    }
    void Start()
    {
        longest_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    qint64 Stop()
    {
        timer_.stop();
        return longest_;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    if (!done())
        loop.exec();
    return done();
}

// A camera JPEG: a busy picture (so it compresses like a photo), EXIF with
// the camera's facts and a 160 x 120 thumbnail.
QByteArray CameraJpeg(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor::fromHsv(seed * 40 % 360, 120, 200));
    for (int i = 0; i < 400; ++i)
        painter.fillRect(QRect((i * 7919 + seed) % size.width(), (i * 104729) % size.height(), 40 + i % 300,
                               30 + i % 200),
                         QColor::fromHsv((i * 37 + seed * 11) % 360, 200, 100 + i % 150));
    painter.end();
    auto encode = [](const QImage &picture) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "jpeg", 90);
        return bytes;
    };
    const QByteArray full = encode(image);
    const QByteArray thumb = encode(image.scaled(160, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    Exiv2::Image::AutoPtr file =
        Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(full.constData()), long(full.size()));
    file->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 80D";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(8, 1);
    exif["Exif.Photo.DateTimeOriginal"] = "2016:08:13 10:22:33";
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumb.constData()),
                                            long(thumb.size()));
    file->setExifData(exif);
    file->writeMetadata();
    Exiv2::BasicIo &io = file->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf all = io.read(io.size());
    return QByteArray(reinterpret_cast<const char *>(all.pData_), all.size_);
}

// FOLDER/card/DCIM/100BENCH: IMG_0000.JPG ... as hard links of four 12 MP
// photos, and BIG_0..4.JPG of one 50 MP photo. Made once.
bool MakeCard(const QString &card)
{
    const QString dcim = card + QStringLiteral("/DCIM/100BENCH/");
    const QString done = card + QStringLiteral("/.made");
    if (QFile::exists(done))
        return true;
    QDir(card).removeRecursively();
    QDir().mkpath(dcim);
    const QString originals = card + QStringLiteral("/../originals/");
    QDir().mkpath(originals);
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    for (int i = 0; i < 4; ++i)
        if (!write(originals + QStringLiteral("photo%1.jpg").arg(i), CameraJpeg(QSize(4000, 3000), i)))
            return false;
    if (!write(originals + QStringLiteral("big.jpg"), CameraJpeg(QSize(8160, 6120), 7)))
        return false;
    for (int i = 0; i < kRows; ++i)
        if (::link(QFile::encodeName(originals + QStringLiteral("photo%1.jpg").arg(i % 4)).constData(),
                   QFile::encodeName(dcim + QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'))).constData()) != 0)
            return false;
    for (int i = 0; i < 5; ++i)
        if (::link(QFile::encodeName(originals + QStringLiteral("big.jpg")).constData(),
                   QFile::encodeName(dcim + QStringLiteral("BIG_%1.JPG").arg(i)).constData()) != 0)
            return false;
    return write(done, "1");
}

void PressDown(QWidget *grid)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(grid, &press);
    QApplication::sendEvent(grid, &release);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();
    SetProgramFolders();

    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QDir::tempPath() + QStringLiteral("/ferrovane-bench-preview");
    const QString card = root + QStringLiteral("/card");
    std::printf("test folder: %s (photos made once; load average %.1f)\n", qPrintable(root), LoadAverage());
    if (!MakeCard(card)) {
        std::printf("could not make the photos\n");
        return 1;
    }
    qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(card));
    {
        QDir().mkpath(QFileInfo(IniFilePath).path());
        QFile ini(IniFilePath);
        if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        ini.write("[Ferrovane]\nDeviceCount=1\nLastDevice=Folder card\nPreviewVisible=1\n[Devices]\nItem0=Folder card\n"
                  "[Folder card]\nDeviceName=Folder card\nDeviceSerialNo=" +
                  QFile::encodeName(card) + "\nFileFiltersCheckBox=0\n");
    }
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    TStringGrid *grid = FormProbe::StringGrid1(form);
    if (!WaitFor([&] { return FormProbe::Idle(form) && grid->Cells()->RowCount() > kRows; }, 60000)) {
        std::printf("the card was not listed\n");
        return 1;
    }
    PreviewPanel *panel = FormProbe::Preview(form);
    PreviewFetcher &fetcher = FormProbe::Previews(form);
    if (!WaitFor([&] { return panel->isVisible(); }, 5000)) {
        std::printf("the preview did not open\n");
        return 1;
    }
    QString finalKey;
    QObject::connect(&fetcher, &PreviewFetcher::Ready, [&](const QString &key, const PreviewResult &, bool final) {
        if (final)
            finalKey = key;
    });
    grid->setFocus();
    const int first = grid->Cells()->FindRow(1, QStringLiteral("IMG_0000.JPG"));
    const int firstBig = grid->Cells()->FindRow(1, QStringLiteral("BIG_0.JPG"));

    // (a) Selection to final picture, rows not seen before.
    auto selectAndWait = [&](int row) {
        QElapsedTimer clock;
        clock.start();
        grid->SetRow(row);
        const QString key = FormProbe::PreviewKey(form);
        if (!WaitFor([&] { return finalKey == key && panel->Picture()->ShowsImage(); }, 20000))
            return -1.0;
        return clock.nsecsElapsed() / 1e6;
    };
    std::vector<double> jpeg, big;
    for (int i = 0; i < 15; ++i) {
        WaitFor([] { return false; }, 80);  // a person's pace: each selection is fetched at once
        jpeg.push_back(selectAndWait(first + 100 + i * 7));
    }
    for (int i = 0; i < 5; ++i) {
        WaitFor([] { return false; }, 80);
        big.push_back(selectAndWait(firstBig + i));
    }
    std::printf("(a) selection to picture, 12 MP JPEG (4.0 x 3.0 k): median %.1f ms, worst %.1f ms (load %.1f)\n",
                Median(jpeg), *std::max_element(jpeg.begin(), jpeg.end()), LoadAverage());
    std::printf("    selection to picture, 50 MP JPEG (8.2 x 6.1 k): median %.1f ms, worst %.1f ms\n", Median(big),
                *std::max_element(big.begin(), big.end()));

    // (b) The arrow key held down through 1,000 rows (a key every 25 ms),
    // then 100 rows at 150 ms each, every picture fetched; each with the
    // preview off and on, alternating, the best of two: on a busy machine
    // the window's thread waits for a core either way.
    Heartbeat heartbeat;
    QPushButton *button = FormProbe::PreviewBitBtn(form);
    struct Walk
    {
        qint64 block = -1;
        int fetches = 0;
    };
    auto walk = [&](bool preview, int startRow, int rows, int intervalMs) {
        if (button->isChecked() != preview)
            button->click();
        grid->SetRow(startRow);
        WaitFor([] { return false; }, 500);
        const int fetchesBefore = fetcher.Fetches();
        heartbeat.Start();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < rows; ++i) {
            PressDown(grid);
            WaitFor([&] { return clock.elapsed() >= (i + 1) * intervalMs; }, 2000);
        }
        if (preview)
            WaitFor([&] { return finalKey == FormProbe::PreviewKey(form); }, 20000);
        return Walk{heartbeat.Stop(), fetcher.Fetches() - fetchesBefore};
    };
    auto best = [](const Walk &a, const Walk &b) { return a.block <= b.block ? a : b; };
    const Walk fastOff1 = walk(false, first, kRows - 1, 25);
    const Walk fastOn1 = walk(true, first, kRows - 1, 25);
    const Walk fastOn2 = walk(true, first + 2, kRows - 3, 25);
    const Walk fastOff2 = walk(false, first, kRows - 1, 25);
    const Walk fastOn = best(fastOn1, fastOn2), fastOff = best(fastOff1, fastOff2);
    std::printf("(b) 1,000 rows at 40 a second: longest block %lld ms with the preview (%d pictures fetched), "
                "%lld ms without (load %.1f)\n",
                static_cast<long long>(fastOn.block), fastOn.fetches, static_cast<long long>(fastOff.block),
                LoadAverage());
    const Walk slowOn1 = walk(true, first + 300, 100, 150);
    const Walk slowOff1 = walk(false, first + 420, 100, 150);
    const Walk slowOff2 = walk(false, first + 540, 100, 150);
    const Walk slowOn2 = walk(true, first + 660, 100, 150);
    const Walk slowOn = best(slowOn1, slowOn2), slowOff = best(slowOff1, slowOff2);
    std::printf("    100 rows at 150 ms each, every picture shown: longest block %lld ms with the preview "
                "(%d fetched), %lld ms without; peak memory %ld MiB (load %.1f)\n",
                static_cast<long long>(slowOn.block), slowOn.fetches, static_cast<long long>(slowOff.block),
                PeakMemoryKiB() / 1024, LoadAverage());
    const bool ok = Median(jpeg) < 300 && fastOn.block <= 50 && slowOn.block <= 50 && fastOn.fetches <= 5;
    std::printf("targets (12 MP picture < 300 ms, never blocked > 50 ms, a fast walk fetches few): %s\n",
                ok ? "met" : "MISSED");
    form.close();
    return 0;
}
