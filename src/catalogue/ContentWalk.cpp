#include "ContentWalk.h"

#include "base/DateFormat.h"
#include "base/NumberFormat.h"
#include "base/RunState.h"
#include "log/LogSink.h"

ContentWalk::ContentWalk(DeviceHandles &handles, RunState &run, LogSink &log, WalkSink &sink)
    : handles_(handles), run_(run), log_(log), host_(sink)
{
}

void ContentWalk::ResetWalk()
{
    LastFolderLevel = 0;
    DeviceObjectSeen = false;
    ReadErrors = 0;
    DeviceGone = false;
    LeftByFilter.Clear();
}

namespace {

bool MeansDeviceGone(HRESULT code)
{
    return code == E_DEVICE_NOT_CONNECTED || code == E_FOLDER_GONE;
}

}  // namespace

HRESULT ContentWalk::Lost(const QString &ObjectID, HRESULT code)
{
    if (!DeviceGone) {
        DeviceGone = true;
        ++run_.ErrorCount;
        log_.WriteLog(QStringLiteral("ERROR: The device was lost while reading \"%1\"; nothing after it was read. %2")
                          .arg(ObjectID, DeviceFailureReason(code)),
                      LogColor::Red, LogStyle::Bold);
    }
    return E_DEVICE_NOT_CONNECTED;
}

HRESULT ContentWalk::ListingFailed(const QString &ObjectID, HRESULT code)
{
    if (MeansDeviceGone(code))
        return Lost(ObjectID, code);
    ++ReadErrors;
    ++run_.ErrorCount;
    log_.WriteLog(QStringLiteral("ERROR: Could not list the folder \"%1\"; its contents are left out. %2")
                      .arg(ObjectID, DeviceFailureReason(code)),
                  LogColor::Red, LogStyle::Bold);
    return S_OK;
}

void ContentWalk::ReadFailed(const QString &ObjectID, HRESULT code)
{
    if (MeansDeviceGone(code)) {
        Lost(ObjectID, code);
        return;
    }
    ++ReadErrors;
    ++run_.ErrorCount;
    log_.WriteLog(
        QStringLiteral("ERROR: Could not read \"%1\"; it is left out. %2").arg(ObjectID, DeviceFailureReason(code)),
        LogColor::Red, LogStyle::Bold);
}

void ContentWalk::TakeSettings()
{
    root_ = settings_.deviceRoot.trimmed();
    filterRule_ = FileFilterRule(settings_.filters);
    dateText_.Reset();
}

void ContentWalk::ResetTotals()
{
    TotalFolders = TotalFiles = TotalSize = 0;
    ShownFolders = ShownFiles = ShownSize = 0;
}

QDateTime ZeroDateTime()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

bool ParseWpdFields(const QString &text, QDate &date, QTime &time)
{
    // The digits in order, whatever separates them: four of the year, two
    // each of month, day, hour, minute and second, up to eight of fraction.
    constexpr qsizetype kUsed = 22;
    int digits[kUsed];
    qsizetype count = 0;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (count < kUsed)
                digits[count] = c.unicode() - '0';
            ++count;
        }
    }
    if (count <= 3)
        return false;
    auto part = [&](qsizetype from, qsizetype length, int missing) {
        if (from >= count)
            return missing;
        int n = 0;
        for (qsizetype i = from; i < qMin(from + length, qMin(count, kUsed)); ++i)
            n = n * 10 + digits[i];
        return n;
    };
    const int year = part(0, 4, 0);
    const int month = part(4, 2, 1);
    const int day = part(6, 2, 1);
    const int hour = part(8, 2, 0);
    const int minute = part(10, 2, 0);
    const int second = part(12, 2, 0);
    const int fraction = part(14, 8, 0);
    const QDate d(year, month, day);
    const QTime t(hour, minute, second, fraction % 1000);
    if (!d.isValid() || !t.isValid() || year < 1)
        return false;
    date = d;
    time = t;
    return true;
}

bool ParseWpdDateTime(const QString &text, QDateTime &value)
{
    QDate date;
    QTime time;
    if (!ParseWpdFields(text, date, time))
        return false;
    value = QDateTime(date, time);
    return true;
}

bool DeviceDateText::HourShowsFieldsUnchanged(QDate date, int hour)
{
    const qint64 key = date.toJulianDay() * 24 + hour;
    const auto known = checkedHours_.constFind(key);
    if (known != checkedHours_.constEnd())
        return *known;
    // A clock change inside the hour moves its first or its last moment, or
    // makes the hour longer or shorter than an hour.
    const QTime first(hour, 0);
    const QTime last(hour, 59, 59, 999);
    const QDateTime from(date, first);
    const QDateTime to(date, last);
    const bool unchanged = from.date() == date && from.time() == first && to.date() == date && to.time() == last &&
                           from.msecsTo(to) == 3599999;
    checkedHours_.insert(key, unchanged);
    return unchanged;
}

QString DeviceDateText::Text(QDate date, QTime time, const FormatSettings &settings)
{
    if (lastSettings_ == &settings && date == lastDate_ && time == lastTime_)
        return lastText_;
    lastText_ = HourShowsFieldsUnchanged(date, time.hour()) ? DateTimeToStr(QDateTime(date, time, Qt::UTC), settings)
                                                            : DateTimeToStr(QDateTime(date, time), settings);
    lastSettings_ = &settings;
    lastDate_ = date;
    lastTime_ = time;
    return lastText_;
}

void ContentWalk::CheckStorageRow(const QString &childId)
{
    // The values read last belong to the object read most recently anywhere in
    // the walk; when they are a functional object's, that object is a storage
    // (or, the first time, the device itself).
    const PortableDeviceValues *values = handles_.aPortableDeviceValues.get();
    QString typeText;
    const HRESULT typeCode = values ? values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, typeText) : E_POINTER;
    if (FAILED(typeCode) || ContentTypeName(typeText) != QLatin1String("FUNCTIONAL_OBJECT"))
        return;
    const bool debug = DebugFlag.load(std::memory_order_relaxed);
    if (debug)
        log_.WriteDebug(QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_CONTENT_TYPE = %1%2")
                            .arg(typeCode)
                            .arg(ContentTypeName(typeText)));
    QString name;
    const HRESULT nameCode = values->GetStringValue(WPD_OBJECT_NAME, name);
    if (FAILED(nameCode))
        name.clear();
    if (debug)
        log_.WriteDebug(
            QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_NAME = %1%2").arg(nameCode).arg(name));
    if (DeviceObjectSeen) {
        host_.AppendRow(
            {QStringLiteral("0"), name, QString(), QString(), QStringLiteral("STORAGE"), childId, QStringLiteral("0")},
            true);
        DevPath = DevicePathComponent(name) + QLatin1Char('\\');
    }
    DeviceObjectSeen = true;
}

HRESULT ContentWalk::EnumerateContent(IPortableDeviceContent *Content, const QString &ObjectID, bool ListOnly,
                                      int Level)
{
    // A folder that cannot be listed is named in the log and counted, and the
    // walk goes on with its siblings: ending the whole walk would hide every
    // later file while the totals still looked complete. Only a device that
    // is gone ends the walk, with its code.
    if (run_.StopSignalled)
        return S_OK;
    if (DeviceGone)
        return E_DEVICE_NOT_CONNECTED;
    if (depth_ == 0)
        TakeSettings();
    struct Nesting
    {
        int &depth;
        explicit Nesting(int &d) : depth(d) { ++depth; }
        ~Nesting() { --depth; }
    } nesting(depth_);
    HRESULT code = Content->Properties(handles_.aPortableDeviceProperties);
    std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
    if (code == S_OK) {
        handedOver_ = false;
        GetDeviceFileProperties(handles_.aPortableDeviceProperties.get(), ObjectID, ListOnly, Level);
        if (DeviceGone)
            return E_DEVICE_NOT_CONNECTED;
        // A file handed to the copy has no children to ask for, and after a
        // delete-after-copy it no longer exists: asking would end the walk.
        if (handedOver_)
            return S_OK;
        code = Content->EnumObjects(0, ObjectID, children);
    }
    if (code == S_FALSE)
        return S_OK;
    if (code != S_OK || !children)
        return ListingFailed(ObjectID, code == S_OK ? E_POINTER : code);

    for (;;) {
        if (run_.StopSignalled)
            return S_OK;
        QString child;
        code = children->Next(child);
        CheckStorageRow(code == S_OK ? child : QString());
        if (code == S_OK)
            code = EnumerateContent(Content, child, ListOnly, Level + 1);
        else if (FAILED(code))
            code = ListingFailed(ObjectID, code) == S_OK ? S_FALSE : E_DEVICE_NOT_CONNECTED;
        if (run_.FilesLocated % 50 == 0)
            host_.UpdateUI();
        if (run_.StopSignalled)
            return S_OK;
        if (code == S_FALSE) {
            if (transfer_ && !ListOnly) {
                transfer_->FolderDone(ObjectID);
                if (transfer_->DeviceLost()) {
                    DeviceGone = true;
                    return E_DEVICE_NOT_CONNECTED;
                }
            }
            return S_OK;
        }
        if (code != S_OK)
            return code;
    }
}

HRESULT ContentWalk::GetDeviceFileProperties(IPortableDeviceProperties *Properties, const QString &ObjectID,
                                             bool ListOnly, int Level)
{
    if (run_.StopSignalled)
        return S_OK;
    if (depth_ == 0)
        TakeSettings();
    const bool debug = DebugFlag.load(std::memory_order_relaxed);
    handles_.aPortableDeviceKeys.reset();
    HRESULT hr = Properties->GetSupportedProperties(ObjectID, handles_.aPortableDeviceKeys);
    if (FAILED(hr) || !handles_.aPortableDeviceKeys) {
        log_.WriteLog(QStringLiteral("aPortableDeviceProperties.GetSupportedProperties failed."), LogColor::Black);
        // Which object, and why: a file that cannot be read must not just vanish.
        ReadFailed(ObjectID, FAILED(hr) ? hr : E_POINTER);
        // Nor may the values of the object read before stand in for its own.
        handles_.aPortableDeviceValues.reset();
        return S_OK;
    }
    std::shared_ptr<PortableDeviceValues> values;
    hr = Properties->GetValues(ObjectID, handles_.aPortableDeviceKeys.get(), values);
    handles_.aPortableDeviceValues = SUCCEEDED(hr) ? values : nullptr;
    if (FAILED(hr))
        ReadFailed(ObjectID, hr);
    QString name, dateText, typeText;
    std::uint64_t size = 0;
    bool readable = SUCCEEDED(hr) && values && SUCCEEDED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, name)) &&
                    SUCCEEDED(values->GetStringValue(WPD_OBJECT_DATE_CREATED, dateText));
    // A device that cannot tell a file's size (one of 4 GiB or more, on
    // some) leaves it out: such a file is listed but never copied.
    const bool sizeKnown = readable && SUCCEEDED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, size));
    if (!sizeKnown)
        size = 0;
    readable = readable && SUCCEEDED(values->GetStringValue(WPD_OBJECT_CONTENT_TYPE, typeText));
    if (!readable) {
        log_.WriteDebug(QStringLiteral("No Properties Returned."));
        return S_OK;
    }

    // A device date is kept as its fields until a copy needs the local
    // date-time.
    QDateTime date;
    QDate day;
    QTime clock;
    bool fields = false;
    if (dateText.count(QLatin1Char(':')) == 3) {
        fields = ParseWpdFields(dateText, day, clock);
        if (!fields)
            date = ZeroDateTime();
    } else if (!StrToDateTime(dateText, UserLocaleSettings(), date)) {
        log_.WriteLog(QStringLiteral("DATE TIME CONVERSION ERROR > ") + dateText, LogColor::Red);
        run_.StopSignalled = true;
        return S_OK;
    }

    const QString type = ContentTypeName(typeText);
    const bool folder = type == QLatin1String("FOLDER");
    (folder ? TotalFolders : TotalFiles) += 1;
    TotalSize += size;

    if (folder) {
        const QString component = DevicePathComponent(name);
        if (Level == LastFolderLevel + 1)
            DevPath = DevPath + QLatin1Char('\\') + component;
        else
            DevPath = KeepPathLevels(DevPath, Level - 1) + component;
        LastFolderLevel = Level;
        DevPath = CollapseBackslashes(DevPath);
        if (debug) {
            log_.WriteDebug(QStringLiteral("Level=%1 FOLDER=%2").arg(Level).arg(name));
            log_.WriteDebug(QStringLiteral("DevPath=") + DevPath);
        }
    }

    // A device that gives no date (libgphoto2 for every folder) shows an
    // empty cell rather than the zero date.
    const QDate zeroDay(1899, 12, 30);
    const bool noDate =
        fields ? day == zeroDay && clock == QTime(0, 0) : date.date() == zeroDay && date.time() == QTime(0, 0);
    const QString dateCell = noDate   ? QString()
                             : fields ? dateText_.Text(day, clock, UserLocaleSettings())
                                      : DateTimeToStr(date, UserLocaleSettings());
    const CatalogueGrid::Row row = {QString::number(Level), name, FormatSizeKiB(qint64(size)), dateCell, type, ObjectID,
                                    QString::number(size)};
    const QString &root = root_;
    const bool inRoot = IsInDeviceRootPath(root, QLatin1Char('\\') + DevPath, log_);
    const bool shown = inRoot && IsInFileFilter(name, type, filterRule_, log_);
    const bool file = !folder && type != QLatin1String("STORAGE");
    if (ListOnly && file && inRoot && !shown)
        LeftByFilter.Add(ExtractFileExtension(name));
    if (shown) {
        (folder ? ShownFolders : ShownFiles) += 1;
        ShownSize += size;
    }
    host_.AppendRow(row, shown);

    if (debug)
        log_.WriteDebug(QStringLiteral("%1 %2 %3 [%4] %5 KiB %6")
                            .arg(Level)
                            .arg(type, ObjectID, name, FormatKiB(qint64(size)), dateCell));

    if (!ListOnly && file) {
        const bool passes = IsInFileFilter(name, type, filterRule_, log_);
        bool handOver = root.isEmpty();
        if (!handOver) {
            const QString rootPath = CollapseBackslashes(QLatin1Char('\\') + root);
            const QString filePath = CollapseBackslashes(QLatin1Char('\\') + DevPath);
            if (DebugFlag && passes)
                log_.WriteLog(QStringLiteral(">>> RootPath=%1 FilePath=%2").arg(rootPath, filePath), LogColor::Green);
            handOver = MatchesCopyRoot(rootPath, filePath);
        }
        if (handOver && !passes)
            LeftByFilter.Add(ExtractFileExtension(name));
        if (handOver && passes) {
            if (DebugFlag)
                log_.WriteLog(QStringLiteral(">>> TransferFile=") + name, LogColor::Green);
            const int mode = settings_.copyMode;
            if (fields)
                date = QDateTime(day, clock);
            if (transfer_ && (mode == 0 || mode == 1) && !sizeKnown) {
                ++run_.ErrorCount;
                log_.WriteLog(QStringLiteral("ERROR: The device does not tell the size of \"%1\"; it is not copied.")
                                  .arg(ObjectID),
                              LogColor::Red, LogStyle::Bold);
            } else if (transfer_ && (mode == 0 || mode == 1)) {
                handedOver_ = true;
                transfer_->TransferFile(ObjectID, name, date, size, mode == 1);
                // The target named the file and the loss; the walk ends
                // as it does when a listing finds the device gone.
                if (transfer_->DeviceLost())
                    DeviceGone = true;
            }
        }
    }
    return S_OK;
}
