#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QString>

#include <array>
#include <deque>
#include <memory>
#include <vector>

// Text widths in one font estimated from a table of character advances and
// of the kerning of character pairs, for printable ASCII; each table entry
// is measured once. The estimate plus its margin is never below the width
// the font engine measures for the whole text.
class TextWidthEstimate
{
public:
    explicit TextWidthEstimate(const QFont &font);
    // An upper bound of the text's width in pixels, or a negative number for
    // text that the table does not cover (measure it exactly).
    qreal UpperBound(QStringView text);
    qreal UpperBound(QLatin1StringView text);

private:
    template <typename View> qreal Bound(View text);
    static constexpr int kChars = 128;
    float Advance(char16_t c);
    float Kerning(char16_t a, char16_t b);
    QFont font_;
    std::array<float, kChars> advances_;
    std::vector<float> kerning_;  // kChars x kChars
};

// The catalogue: rows of seven text cells (Level, Name, Size, Date, Type,
// object identifier, size in bytes). Addressed like a grid whose row 0 is
// the header: RowCount() counts the header and every data row, the last of
// which is the empty row that the next object is written into. As a Qt
// model it shows the six grid columns of the data rows.
//
// Appending is amortised constant time. Views hear of appended rows in one
// batch when control returns to the event loop (or on FlushRows), so a
// listing of 50,000 objects costs one insertion for the view, not 50,000.
//
// A phone holds tens of thousands of objects, and seven strings of their
// own for each would take more than the rest of the program: a row is kept
// packed in large blocks, its cells one after another, as one byte a
// character when they are all Latin-1, and a name that ends the object's
// identifier is not kept twice. A cell is unpacked when asked for.
class CatalogueGrid : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The cells of a row, in order; the first kColumnCount are the grid's columns.
    enum Column : int { LevelColumn, NameColumn, SizeColumn, DateColumn, TypeColumn, ObjectIdColumn, BytesColumn };
    static constexpr int kCellCount = BytesColumn + 1;
    static constexpr int kColumnCount = ObjectIdColumn + 1;
    using Row = std::array<QString, kCellCount>;
    static const Row kHeaders;

    explicit CatalogueGrid(QObject *parent = nullptr);

    int RowCount() const { return int(rows_.size()) + 1; }
    QString Cell(int column, int row) const;
    // The same (it once gave a reference to the stored text).
    QString CellRef(int column, int row) const { return Cell(column, row); }
    const Row &Header() const { return header_; }

    // Empties the grid to the header and one empty row, headers written.
    void Clear();
    // Writes the row into the last row and adds a new empty last row.
    void AppendRow(const Row &row);
    // Tells the views about rows appended since the last time.
    void FlushRows();
    // The data row whose cell in column holds text exactly (the object
    // identifiers of ObjectIdColumn are unique); 0 when none.
    int FindRow(int column, const QString &text) const;
    // Removes a data row; the rows below move up by one.
    void RemoveRow(int row);

    // The widest cell of a grid column, header included, in the given font.
    // Up to kExactCells new cells are measured exactly; of more, only those
    // estimated widest, and the result is then never below the widest cell
    // and at most a pixel or two above it.
    int WidestCell(int column, const QFont &font);
    int WidestName(const QFont &font) { return WidestCell(NameColumn, font); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static constexpr int kExactCells = 32;

    // A cell as the grid shows it: a name's control characters and bytes
    // that are not UTF-8 escaped ("\n", "\xFF"); Cell() keeps its bytes.
    static QString Shown(const QString &cell);

private:
    // Where a packed cell's characters are: Latin-1 bytes, or with wide
    // UTF-16 code units.
    struct Span
    {
        const uchar *data = nullptr;
        qsizetype length = 0;
        bool wide = false;
    };
    static Span CellSpan(const uchar *packed, int column);
    static QString Text(const Span &span);
    const uchar *Pack(const Row &row);
    Row Unpack(const uchar *packed) const;

    void ForgetWidths();
    void ForgetWidths(int column);

    Row header_;
    // Grid rows 1 .. RowCount()-1, packed. A deque grows without moving the
    // rows already there or reserving twice what a long listing needs.
    std::deque<const uchar *> rows_;
    // The blocks the rows are packed into; a row written again is packed
    // anew, and its old place stays until the grid is cleared.
    std::vector<std::unique_ptr<uchar[]>> blocks_;
    size_t blockUsed_ = 0;
    size_t blockSize_ = 0;
    // Where the last search ended: a copy run asks for the rows in the
    // order they were listed, so the next one is found at once.
    mutable size_t searchFrom_ = 0;
    int notified_ = 0;  // rows the views know of
    bool flushQueued_ = false;
    // Width cache per grid column.
    struct Widths
    {
        QFont font;
        int widest = 0;             // the widest cell measured exactly
        qreal unmeasuredBound = 0;  // no cell left unmeasured is wider
        int measured = -1;          // grid rows accounted for, header is row 0
        std::shared_ptr<TextWidthEstimate> estimate;
    };
    std::array<Widths, kColumnCount> widths_;
};
