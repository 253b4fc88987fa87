#include "CatalogueGrid.h"

#include "base/TextRules.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
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

qreal TextWidthEstimate::UpperBound(const QString &text)
{
    qreal width = 0;
    char16_t previous = 0;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x20 || c > 0x7E)
            return -1;
        width += Advance(c);
        if (previous)
            width += Kerning(previous, c);
        previous = c;
    }
    return width + kEstimateMargin;
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
    rows_.emplace_back();
    notified_ = 1;
    header_ = kHeaders;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    ForgetWidths();
}

QString CatalogueGrid::Cell(int column, int row) const
{
    return CellRef(column, row);
}

const QString &CatalogueGrid::CellRef(int column, int row) const
{
    static const QString empty;
    if (column < 0 || column >= kCellCount || row < 0 || row >= RowCount())
        return empty;
    return row == 0 ? header_[size_t(column)] : rows_[size_t(row - 1)][size_t(column)];
}

void CatalogueGrid::AppendRow(const Row &row)
{
    if (rows_.empty())
        rows_.emplace_back();
    const int written = int(rows_.size()) - 1;
    rows_.back() = row;
    for (Widths &w : widths_)
        if (w.measured > written)
            w.measured = written;  // that row was measured while empty
    rows_.emplace_back();
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
        if (rows_[i][size_t(column)] == text) {
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
            w.widest = qMax(w.widest, metrics.horizontalAdvance(Shown(CellRef(column, row))));
    } else {
        // Shaping every name of a large listing costs more than the rest of
        // the listing: estimate all, measure the few that could be widest.
        if (!w.estimate)
            w.estimate = std::make_shared<TextWidthEstimate>(font);
        std::vector<std::pair<qreal, int>> candidates;
        for (int row = first; row < end; ++row) {
            const QString &text = CellRef(column, row);
            const qreal bound = w.estimate->UpperBound(text);
            if (bound < 0)
                w.widest = qMax(w.widest, metrics.horizontalAdvance(Shown(text)));
            else if (bound > w.widest)
                candidates.emplace_back(bound, row);
        }
        const size_t exact = qMin(candidates.size(), size_t(kExactCells));
        std::nth_element(candidates.begin(), candidates.begin() + exact, candidates.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        for (size_t i = 0; i < exact; ++i)
            w.widest = qMax(w.widest, metrics.horizontalAdvance(CellRef(column, candidates[i].second)));
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
    return Shown(rows_[size_t(index.row())][size_t(index.column())]);
}

QVariant CatalogueGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return QVariant();
    return header_[size_t(section)];
}
