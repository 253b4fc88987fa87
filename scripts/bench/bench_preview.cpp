// The preview through the real main window, offscreen, on a folder device of
// 1,000 photos (12-megapixel camera JPEGs with EXIF, and a 50-megapixel one):
//   (a) time from selecting a row to its final picture, for photos not seen before;
//   (b) the longest the window's event loop was blocked while the arrow key
//       walks 1,000 rows at key-repeat speed with the preview on, and how many
//       pictures that fetched; then 100 rows slowly, every picture shown.
// With --vcam, (a) on libgphoto2's virtual device instead (VCAMERA_KIND, as
// scripts/bench-preview --vcam sets it up): 24 such photos on it, grainy so
// that each is as large as a camera's, the time
// to the first and to the final picture, and which source each came from.
//
//   bench_preview [--vcam] [FOLDER]   (the photos are made there once)

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
#include <map>
#include <unistd.h>

namespace {

constexpr int kRows = 1000;

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

// A camera JPEG: a busy picture, EXIF with the camera's facts and a 160 x 120
// thumbnail. With `grain`, sensor noise over it, so that it is as large as a
// camera's JPEG (about 5 MB at 12 MP instead of 0.6).
QByteArray CameraJpeg(QSize size, int seed, bool grain = false)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor::fromHsv(seed * 40 % 360, 120, 200));
    for (int i = 0; i < 400; ++i)
        painter.fillRect(QRect((i * 7919 + seed) % size.width(), (i * 104729) % size.height(), 40 + i % 300,
                               30 + i % 200),
                         QColor::fromHsv((i * 37 + seed * 11) % 360, 200, 100 + i % 150));
    painter.end();
    quint32 noise = 2463534242u + quint32(seed);
    for (int y = 0; grain && y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const int d = int(noise % 25) - 12;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + d, 255), qBound(0, qGreen(p) + d, 255), qBound(0, qBlue(p) + d, 255));
        }
    }
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

// CARD/FOLDER/PREFIX0000SUFFIX ... as hard links of four 12 MP photos, and
// with `big`, BIG_0..4.JPG of one 50 MP photo, beside them. The originals
// are made once, in ROOT/originals.
struct CardLayout
{
    QString folder;   // below the card
    QString prefix;
    QString suffix;
    int rows = kRows;
    bool big = true;
    bool grain = false;  // photos the size of a camera's
};

bool MakeCard(const QString &root, const QString &card, const CardLayout &layout)
{
    const QString dcim = card + QLatin1Char('/') + layout.folder + QLatin1Char('/');
    const QString done = root + QStringLiteral("/.made-") + QFileInfo(card).fileName();
    if (QFile::exists(done))
        return true;
    QDir(card).removeRecursively();
    QDir().mkpath(dcim);
    const QString originals = root + QStringLiteral("/originals/");
    QDir().mkpath(originals);
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    auto link = [](const QString &from, const QString &to) {
        return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    };
    const QString photos = originals + (layout.grain ? QStringLiteral("grain%1.jpg") : QStringLiteral("photo%1.jpg"));
    for (int i = 0; i < 4; ++i) {
        const QString photo = photos.arg(i);
        if (!QFile::exists(photo) && !write(photo, CameraJpeg(QSize(4000, 3000), i, layout.grain)))
            return false;
    }
    const QString bigPhoto = originals + QStringLiteral("big.jpg");
    if (layout.big && !QFile::exists(bigPhoto) && !write(bigPhoto, CameraJpeg(QSize(8160, 6120), 7)))
        return false;
    for (int i = 0; i < layout.rows; ++i)
        if (!link(photos.arg(i % 4),
                  dcim + layout.prefix + QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')) + layout.suffix))
            return false;
    for (int i = 0; layout.big && i < 5; ++i)
        if (!link(bigPhoto, dcim + QStringLiteral("BIG_%1.JPG").arg(i)))
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

void WriteSettings(const QString &device, const QByteArray &serial)
{
    QDir().mkpath(QFileInfo(IniFilePath).path());
    QFile ini(IniFilePath);
    if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ini.write("[Ferrovane]\nDeviceCount=1\nLastDevice=" + device.toUtf8() + "\nPreviewVisible=1\n[Devices]\nItem0=" +
                  device.toUtf8() + "\n[" + device.toUtf8() + "]\nDeviceName=" + device.toUtf8() +
                  "\nDeviceSerialNo=" + serial + "\nFileFiltersCheckBox=0\n");
}

// The window listed the card (more than `rows` rows) and shows the preview.
bool Opened(TForm1 &form, int rows, int timeoutMs)
{
    TStringGrid *grid = FormProbe::StringGrid1(form);
    if (!WaitFor([&] { return FormProbe::Idle(form) && grid->Cells()->RowCount() > rows; }, timeoutMs)) {
        std::printf("the card was not listed\n");
        return false;
    }
    if (!WaitFor([&] { return FormProbe::Preview(form)->isVisible(); }, 5000)) {
        std::printf("the preview did not open\n");
        return false;
    }
    return true;
}

const char *SourceName(PreviewSource source)
{
    switch (source) {
    case PreviewSource::DeviceThumbnail: return "device thumbnail";
    case PreviewSource::EmbeddedPreview: return "embedded preview";
    case PreviewSource::ScaledDecode: return "scaled decode";
    case PreviewSource::None: break;
    }
    return "no picture";
}

QString SourceCounts(const std::map<PreviewSource, int> &counts)
{
    QStringList parts;
    for (const auto &[source, count] : counts)
        parts << QStringLiteral("%1 %2").arg(QLatin1String(SourceName(source))).arg(count);
    return parts.join(QStringLiteral(", "));
}

// (a) on libgphoto2's virtual device: each photo selected once, at a
// person's pace; the time to its first picture (the device's thumbnail, when
// it gives one) and to the final one, and where each came from.
int OnVirtualDevice(const QString &root)
{
    constexpr int kPhotos = 24, kSelections = 20;
    const QString kind = qEnvironmentVariable("VCAMERA_KIND", QStringLiteral("camera"));
    const bool phone = kind == QLatin1String("android");
    const CardLayout layout = phone ? CardLayout{QStringLiteral("DCIM/Camera"), QStringLiteral("PXL_20230512_"),
                                                 QStringLiteral(".jpg"), kPhotos, false, true}
                                    : CardLayout{QStringLiteral("DCIM/100NIKON"), QStringLiteral("DSC_"),
                                                 QStringLiteral(".JPG"), kPhotos, false, true};
    if (kind != QLatin1String("camera") && !phone) {
        std::printf("VCAMERA_KIND=%s: only camera and android carry JPEGs here\n", qPrintable(kind));
        return 1;
    }
    const QString card = root + QStringLiteral("/vcam-") + kind;
    if (!MakeCard(root, card, layout)) {
        std::printf("could not make the photos\n");
        return 1;
    }
    // The device serves the card from its first opening on, in this process.
    qputenv("VCAMERA_DIR", QFile::encodeName(card));
    qunsetenv("FERROVANE_FOLDER_DEVICES");
    if (qEnvironmentVariableIsEmpty("VCAMERA_SERIAL"))
        qputenv("VCAMERA_SERIAL", "VC-BENCH");
    WriteSettings(phone ? QStringLiteral("Google Pixel 7") : QStringLiteral("GP VC"), qgetenv("VCAMERA_SERIAL"));
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    if (!Opened(form, kPhotos, 120000))
        return 1;
    TStringGrid *grid = FormProbe::StringGrid1(form);
    PreviewPanel *panel = FormProbe::Preview(form);
    struct Seen
    {
        qint64 firstNs = -1, finalNs = -1;
        PreviewSource first = PreviewSource::None, final = PreviewSource::None;
        QString trouble;
    };
    std::map<QString, Seen> seen;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&FormProbe::Previews(form), &PreviewFetcher::Ready,
                     [&](const QString &key, const PreviewResult &result, bool final) {
                         Seen &s = seen[key];
                         const qint64 now = clock.nsecsElapsed();
                         if (s.firstNs < 0) {
                             s.firstNs = now;
                             s.first = result.source;
                         }
                         if (final) {
                             s.finalNs = now;
                             s.final = result.source;
                             s.trouble = result.trouble;
                         }
                     });
    grid->setFocus();
    std::vector<double> firsts, finals;
    std::map<PreviewSource, int> firstSources, finalSources;
    QStringList troubles;
    // The window selects a row of its own at the start: begin further down.
    for (int i = kPhotos - kSelections; i < kPhotos; ++i) {
        WaitFor([] { return false; }, 80);
        const QString name = layout.prefix + QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')) + layout.suffix;
        const int row = grid->Cells()->FindRow(1, name);
        const qint64 start = clock.nsecsElapsed();
        grid->SetRow(row);
        const QString key = FormProbe::PreviewKey(form);
        if (row < 0 || !WaitFor([&] { return seen[key].finalNs >= 0; }, 60000)) {
            std::printf("%s: no picture within a minute\n", qPrintable(name));
            return 1;
        }
        const Seen &s = seen[key];
        firsts.push_back((s.firstNs - start) / 1e6);
        finals.push_back((s.finalNs - start) / 1e6);
        ++firstSources[s.first];
        ++finalSources[s.final];
        if (!panel->Picture()->ShowsImage() || !s.trouble.isEmpty())
            troubles << name + QStringLiteral(": ") + (s.trouble.isEmpty() ? QStringLiteral("not shown") : s.trouble);
    }
    std::printf("(a) virtual %s, selection to picture, 12 MP JPEG (4.0 x 3.0 k, %.1f MB), %d not seen before "
                "(load %.1f):\n"
                "    first picture median %.1f ms, worst %.1f ms (%s)\n"
                "    final picture median %.1f ms, worst %.1f ms (%s)\n",
                qPrintable(kind), QFileInfo(card + QLatin1Char('/') + layout.folder + QLatin1Char('/') + layout.prefix +
                                            QStringLiteral("0000") + layout.suffix).size() / 1e6,
                kSelections, LoadAverage(), Median(firsts),
                *std::max_element(firsts.begin(), firsts.end()), qPrintable(SourceCounts(firstSources)),
                Median(finals), *std::max_element(finals.begin(), finals.end()),
                qPrintable(SourceCounts(finalSources)));
    for (const QString &trouble : std::as_const(troubles))
        std::printf("    %s\n", qPrintable(trouble));
    form.close();
    return troubles.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const WindowBenchFolders benchFolders;
    Application app(argc, argv);
    InitFormatSettingsFromSystem();
    SetProgramFolders();

    QStringList args = app.arguments().mid(1);
    const bool vcam = args.removeAll(QStringLiteral("--vcam")) > 0;
    const QString root = !args.isEmpty() ? args.first() : QDir::tempPath() + QStringLiteral("/ferrovane-bench-preview");
    std::printf("test folder: %s (photos made once; load average %.1f)\n", qPrintable(root), LoadAverage());
    if (vcam)
        return OnVirtualDevice(root);
    const QString card = root + QStringLiteral("/card");
    if (!MakeCard(root, card, CardLayout{QStringLiteral("DCIM/100BENCH"), QStringLiteral("IMG_"), QStringLiteral(".JPG")})) {
        std::printf("could not make the photos\n");
        return 1;
    }
    qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(card));
    WriteSettings(QStringLiteral("Folder card"), QFile::encodeName(card));
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    TForm1 form(*devices);
    form.show();
    TStringGrid *grid = FormProbe::StringGrid1(form);
    if (!Opened(form, kRows, 60000))
        return 1;
    PreviewPanel *panel = FormProbe::Preview(form);
    PreviewFetcher &fetcher = FormProbe::Previews(form);
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
        heartbeat.Reset();
        heartbeat.Start();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < rows; ++i) {
            PressDown(grid);
            WaitFor([&] { return clock.elapsed() >= (i + 1) * intervalMs; }, 2000);
        }
        if (preview)
            WaitFor([&] { return finalKey == FormProbe::PreviewKey(form); }, 20000);
        heartbeat.Stop();
        return Walk{heartbeat.Longest(), fetcher.Fetches() - fetchesBefore};
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
