#include "CatalogueGrid.h"

#include "base/TextRules.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr float kUnknown = std::numeric_limits<float>::quiet_NaN();

// Rounding of the engine's total, and shaping that the pair table does not
// see, stay within this.
constexpr qreal kEstimateMargin = 1.0;

}  // namespace

TextWidthEstimate::TextWidthEstimate(const QFont &font) : font_(font), kerning_(size_t(kChars * kChars), kUnknown)
{
    advances_.fill(kUnknown);
}

float TextWidthEstimate::Advance(char16_t c)
{
    float &a = advances_[c];
    if (std::isnan(a))
        a = float(QFontMetricsF(font_).horizontalAdvance(QString(QChar(c))));
    return a;
}

float TextWidthEstimate::Kerning(char16_t a, char16_t b)
{
    float &k = kerning_[size_t(a * kChars + b)];
    if (std::isnan(k)) {
        const QChar pair[2] = {QChar(a), QChar(b)};
        k = float(QFontMetricsF(font_).horizontalAdvance(QString(pair, 2))) - Advance(a) - Advance(b);
    }
    return k;
}

template <typename View> qreal TextWidthEstimate::Bound(View text)
{
    qreal width = 0;
    char16_t previous = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c > 0x7E)
            return -1;
        width += Advance(c);
        if (previous)
            width += Kerning(previous, c);
        previous = c;
    }
    return width + kEstimateMargin;
}

qreal TextWidthEstimate::UpperBound(QStringView text)
{
    return Bound(text);
}

qreal TextWidthEstimate::UpperBound(QLatin1StringView text)
{
    return Bound(text);
}

namespace {

// A packed row: a byte of flags, the seven cells' lengths (seven bits a
// byte, the high bit set on all but the last of a length), then the cells'
// characters one after another, UTF-16 ones from an even address.
enum RowFlags : uchar {
    kWide = 1,      // the characters are UTF-16
    kNameInId = 2,  // the name is the end of the identifier, not kept apart
};

// The empty last row, and any row without text.
const uchar kEmptyRow[1 + CatalogueGrid::kCellCount] = {};

// Blocks hold this many bytes unless a row needs more.
constexpr size_t kPackBlock = 64 * 1024;

bool NameEndsId(const QString &name, const QString &id)
{
    return !name.isEmpty() && id.size() > name.size() && id.endsWith(name) &&
           id.at(id.size() - name.size() - 1) == QLatin1Char('/');
}

}  // namespace

CatalogueGrid::Span CatalogueGrid::CellSpan(const uchar *packed, int column)
{
    const uchar flags = packed[0];
    const uchar *p = packed + 1;
    qsizetype lengths[kCellCount];
    for (qsizetype &length : lengths) {
        length = 0;
        for (int shift = 0;; shift += 7) {
            const uchar b = *p++;
            length |= qsizetype(b & 0x7F) << shift;
            if (!(b & 0x80))
                break;
        }
    }
    Span span;
    span.wide = flags & kWide;
    const size_t unit = span.wide ? 2 : 1;
    if (span.wide && (reinterpret_cast<uintptr_t>(p) & 1))
        ++p;
    const bool nameInId = flags & kNameInId;
    if (column == NameColumn && nameInId) {
        const Span id = CellSpan(packed, ObjectIdColumn);
        span.data = id.data + size_t(id.length - lengths[NameColumn]) * unit;
        span.length = lengths[NameColumn];
        return span;
    }
    for (int c = 0; c < column; ++c)
        if (!(c == NameColumn && nameInId))
            p += size_t(lengths[c]) * unit;
    span.data = p;
    span.length = lengths[column];
    return span;
}

QString CatalogueGrid::Text(const Span &span)
{
    if (span.length == 0)
        return QString();
    if (!span.wide)
        return QString::fromLatin1(reinterpret_cast<const char *>(span.data), span.length);
    QString text(span.length, Qt::Uninitialized);
    std::memcpy(text.data(), span.data, size_t(span.length) * 2);
    return text;
}

const uchar *CatalogueGrid::Pack(const Row &row)
{
    bool wide = false;
    bool empty = true;
    for (const QString &cell : row) {
        empty = empty && cell.isEmpty();
        for (QChar c : cell)
            wide = wide || c.unicode() > 0xFF;
    }
    if (empty)
        return kEmptyRow;
    const bool nameInId = NameEndsId(row[NameColumn], row[ObjectIdColumn]);
    const size_t unit = wide ? 2 : 1;
    size_t bytes = 1 + (wide ? 1 : 0);
    for (int c = 0; c < kCellCount; ++c) {
        for (qsizetype n = row[size_t(c)].size();; n >>= 7) {
            ++bytes;
            if (n < 0x80)
                break;
        }
        if (!(c == NameColumn && nameInId))
            bytes += size_t(row[size_t(c)].size()) * unit;
    }
    if (blocks_.empty() || blockUsed_ + bytes > blockSize_) {
        blockSize_ = std::max(kPackBlock, bytes);
        blocks_.emplace_back(new uchar[blockSize_]);
        blockUsed_ = 0;
    }
    uchar *const packed = blocks_.back().get() + blockUsed_;
    uchar *p = packed;
    *p++ = uchar((wide ? kWide : 0) | (nameInId ? kNameInId : 0));
    for (const QString &cell : row) {
        for (size_t n = size_t(cell.size());; n >>= 7) {
            *p++ = uchar((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
            if (n < 0x80)
                break;
        }
    }
    if (wide && (reinterpret_cast<uintptr_t>(p) & 1))
        ++p;
    for (int c = 0; c < kCellCount; ++c) {
        const QString &cell = row[size_t(c)];
        if (c == NameColumn && nameInId)
            continue;
        if (wide) {
            std::memcpy(p, cell.utf16(), size_t(cell.size()) * 2);
        } else {
            for (QChar ch : cell)
                *p++ = uchar(ch.unicode());
            continue;
        }
        p += size_t(cell.size()) * 2;
    }
    blockUsed_ += size_t(p - packed);
    return packed;
}

CatalogueGrid::Row CatalogueGrid::Unpack(const uchar *packed) const
{
    Row row;
    for (int c = 0; c < kCellCount; ++c)
        row[size_t(c)] = Text(CellSpan(packed, c));
    return row;
}

const CatalogueGrid::Row CatalogueGrid::kHeaders = {QStringLiteral("Level"),      QStringLiteral("Name"),
                                                    QStringLiteral("Size"),       QStringLiteral("Date"),
                                                    QStringLiteral("Type"),       QStringLiteral("[File Full Path]"),
                                                    QStringLiteral("[File Size]")};

CatalogueGrid::CatalogueGrid(QObject *parent) : QAbstractTableModel(parent)
{
}

void CatalogueGrid::ForgetWidths(int column)
{
    widths_[size_t(column)].widest = 0;
    widths_[size_t(column)].unmeasuredBound = 0;
    widths_[size_t(column)].measured = -1;
}

void CatalogueGrid::ForgetWidths()
{
    for (int column = 0; column < kColumnCount; ++column)
        ForgetWidths(column);
}

void CatalogueGrid::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    blocks_.clear();
    blockUsed_ = blockSize_ = 0;
    rows_.push_back(kEmptyRow);
    notified_ = 1;
    header_ = kHeaders;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    ForgetWidths();
}

QString CatalogueGrid::Cell(int column, int row) const
{
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return QString();
    return row == 0 ? header_[size_t(column)] : Text(CellSpan(rows_[size_t(row - 1)], column));
}

void CatalogueGrid::AppendRow(const Row &row)
{
    if (rows_.empty())
        rows_.push_back(kEmptyRow);
    const int written = int(rows_.size()) - 1;
    rows_.back() = Pack(row);
    for (Widths &w : widths_)
        if (w.measured > written)
            w.measured = written;  // that row was measured while empty
    rows_.push_back(kEmptyRow);
    if (written < notified_)
        emit dataChanged(index(written, 0), index(written, kColumnCount - 1));
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &CatalogueGrid::FlushRows, Qt::QueuedConnection);
    }
}

void CatalogueGrid::FlushRows()
{
    flushQueued_ = false;
    const int total = int(rows_.size());
    if (total <= notified_)
        return;
    const int first = notified_;
    beginInsertRows(QModelIndex(), first, total - 1);
    notified_ = total;
    endInsertRows();
    // The row that was the empty last one when the views last looked may hold
    // an object now.
    if (first > 0)
        emit dataChanged(index(first - 1, 0), index(first - 1, kColumnCount - 1));
}

int CatalogueGrid::FindRow(int column, const QString &text) const
{
    if (column < 0 || column >= kCellCount)
        return 0;
    // The empty last row never matches: it holds no object.
    const size_t count = rows_.empty() ? 0 : rows_.size() - 1;
    const size_t start = searchFrom_ < count ? searchFrom_ : 0;
    for (size_t n = 0; n < count; ++n) {
        const size_t i = (start + n) % count;
        const Span cell = CellSpan(rows_[i], column);
        const bool same =
            cell.length == text.size() &&
            (cell.wide ? QStringView(reinterpret_cast<const char16_t *>(cell.data), cell.length) == text
                       : QLatin1StringView(reinterpret_cast<const char *>(cell.data), cell.length) == text);
        if (same) {
            searchFrom_ = i + 1;
            return int(i) + 1;
        }
    }
    return 0;
}

void CatalogueGrid::RemoveRow(int row)
{
    // The empty last row stays: it is where the next object goes.
    if (row < 1 || row >= RowCount() - 1)
        return;
    const int index = row - 1;
    const bool known = index < notified_;
    if (known)
        beginRemoveRows(QModelIndex(), index, index);
    rows_.erase(rows_.begin() + index);
    if (known) {
        --notified_;
        endRemoveRows();
    }
    ForgetWidths();
}

QString CatalogueGrid::Shown(const QString &cell)
{
    return needsEscaping(cell) ? readableText(cell) : cell;
}

int CatalogueGrid::WidestCell(int column, const QFont &font)
{
    if (column < 0 || column >= kColumnCount)
        return 0;
    Widths &w = widths_[size_t(column)];
    if (font != w.font) {
        w.font = font;
        w.estimate.reset();
        ForgetWidths(column);
    }
    const QFontMetrics metrics(font);
    const int first = w.measured + 1;
    const int end = RowCount();
    if (end - first <= kExactCells) {
        for (int row = first; row < end; ++row)
            w.widest = qMax(w.widest, metrics.horizontalAdvance(Shown(Cell(column, row))));
    } else {
        // Shaping every name of a large listing costs more than the rest of
        // the listing: estimate all, measure the few that could be widest.
        if (!w.estimate)
            w.estimate = std::make_shared<TextWidthEstimate>(font);
        std::vector<std::pair<qreal, int>> candidates;
        for (int row = first; row < end; ++row) {
            qreal bound;
            if (row == 0) {
                bound = w.estimate->UpperBound(header_[size_t(column)]);
            } else {
                const Span cell = CellSpan(rows_[size_t(row - 1)], column);
                bound = cell.wide ? w.estimate->UpperBound(
                                        QStringView(reinterpret_cast<const char16_t *>(cell.data), cell.length))
                                  : w.estimate->UpperBound(
                                        QLatin1StringView(reinterpret_cast<const char *>(cell.data), cell.length));
            }
            if (bound < 0)
                w.widest = qMax(w.widest, metrics.horizontalAdvance(Shown(Cell(column, row))));
            else if (bound > w.widest)
                candidates.emplace_back(bound, row);
        }
        const size_t exact = qMin(candidates.size(), size_t(kExactCells));
        std::nth_element(candidates.begin(), candidates.begin() + exact, candidates.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        for (size_t i = 0; i < exact; ++i)
            w.widest = qMax(w.widest, metrics.horizontalAdvance(Cell(column, candidates[i].second)));
        for (size_t i = exact; i < candidates.size(); ++i)
            w.unmeasuredBound = qMax(w.unmeasuredBound, candidates[i].first);
    }
    w.measured = end - 1;
    return qMax(w.widest, int(std::ceil(w.unmeasuredBound)));
}

int CatalogueGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : notified_;
}

int CatalogueGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CatalogueGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= notified_)
        return QVariant();
    return Shown(Text(CellSpan(rows_[size_t(index.row())], index.column())));
}

QVariant CatalogueGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return QVariant();
    return header_[size_t(section)];
}
