#include "StackTrace.h"

#include <QFileInfo>

#include <backtrace.h>
#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Looking back for the first byte of a source line stops after this many
// bytes; a longer line is shown with the offset from where the search ended.
constexpr std::uintptr_t kMaxLineBytes = 4096;

backtrace_state *State()
{
    static backtrace_state *state = backtrace_create_state(
        nullptr, 1, [](void *, const char *, int) {}, nullptr);
    return state;
}

QString Demangle(const char *name)
{
    if (!name || !*name)
        return QString();
    int status = 0;
    char *demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    const QString text = QString::fromUtf8(status == 0 && demangled ? demangled : name);
    std::free(demangled);
    return text;
}

struct LineInfo
{
    bool found = false;
    QByteArray file;
    int line = 0;
    QByteArray function;
};

// The source positions of an address, innermost first: code inlined from
// other routines gives one level for each routine it was inlined through.
QList<LineInfo> LinesAt(std::uintptr_t address)
{
    QList<LineInfo> levels;
    backtrace_pcinfo(
        State(), address,
        [](void *data, uintptr_t, const char *file, int line, const char *function) -> int {
            auto *out = static_cast<QList<LineInfo> *>(data);
            if (!file || line <= 0)
                return 0;
            out->append({true, file, line, function ? function : ""});
            return 0;
        },
        [](void *, const char *, int) {}, &levels);
    return levels;
}

// Whether an address belongs to the same source line of the same routine,
// at any level of inlining.
bool SameLine(const QList<LineInfo> &levels, const LineInfo &line)
{
    for (const LineInfo &l : levels)
        if (l.line == line.line && l.file == line.file && l.function == line.function)
            return true;
    return false;
}

struct SymbolInfo
{
    bool found = false;
    QByteArray name;
    std::uintptr_t start = 0;
};

SymbolInfo SymbolAt(std::uintptr_t address)
{
    SymbolInfo info;
    backtrace_syminfo(
        State(), address,
        [](void *data, uintptr_t, const char *name, uintptr_t start, uintptr_t) {
            auto *out = static_cast<SymbolInfo *>(data);
            if (!name)
                return;
            out->found = true;
            out->name = name;
            out->start = start;
        },
        [](void *, const char *, int) {}, &info);
    if (!info.found) {
        // Libraries without a symbol table still export their public names.
        Dl_info dl{};
        if (dladdr(reinterpret_cast<void *>(address), &dl) && dl.dli_sname) {
            info.found = true;
            info.name = dl.dli_sname;
            info.start = reinterpret_cast<std::uintptr_t>(dl.dli_saddr);
        }
    }
    return info;
}

QString Hex(std::uintptr_t value, int width)
{
    return QStringLiteral("%1").arg(qulonglong(value), width, 16, QLatin1Char('0')).toUpper();
}

QString SignedOffset(std::intptr_t offset)
{
    return offset < 0 ? QStringLiteral(" - $") + Hex(std::uintptr_t(-offset), 0)
                      : QStringLiteral(" + $") + Hex(std::uintptr_t(offset), 0);
}

// An address: 8 digits at least, all of them on a 64-bit system.
QString Address(std::uintptr_t address)
{
    return Hex(address, 8);
}

}  // namespace

std::vector<StackEntry> ResolveStack(const RawStack &stack)
{
    // libbacktrace keeps its own caches; one report at a time keeps its
    // memory use to one set of tables.
    static std::mutex resolving;
    const std::lock_guard lock(resolving);
    std::vector<StackEntry> entries;
    entries.reserve(stack.size());
    for (const std::uintptr_t returnAddress : stack) {
        StackEntry entry;
        // A return address points after the call; the call itself is one
        // byte earlier and belongs to the right source line.
        const std::uintptr_t address = returnAddress > 0 ? returnAddress - 1 : 0;
        entry.address = address;
        Dl_info dl{};
        if (dladdr(reinterpret_cast<void *>(address), &dl) && dl.dli_fbase)
            entry.moduleOffset = address - reinterpret_cast<std::uintptr_t>(dl.dli_fbase);
        else
            entry.moduleOffset = address;

        const SymbolInfo symbol = SymbolAt(address);
        const QList<LineInfo> levels = LinesAt(address);
        if (symbol.found) {
            entry.hasRoutine = true;
            entry.routine = Demangle(symbol.name.constData());
            entry.routineOffset = std::intptr_t(address - symbol.start);
        }
        if (levels.isEmpty()) {
            entries.push_back(entry);
            continue;
        }
        // The routine's first line is known for the routine the symbol
        // names, the outermost level.
        int firstLine = 0;
        if (symbol.found) {
            const QList<LineInfo> first = LinesAt(symbol.start);
            if (!first.isEmpty() && first.last().file == levels.last().file &&
                first.last().function == levels.last().function)
                firstLine = first.last().line;
        }
        const std::uintptr_t lowest = symbol.found && symbol.start <= address
                                          ? symbol.start
                                          : (address > kMaxLineBytes ? address - kMaxLineBytes : 0);
        for (qsizetype level = 0; level < levels.size(); ++level) {
            const LineInfo &line = levels[level];
            StackEntry levelEntry = entry;
            levelEntry.hasLine = true;
            levelEntry.file = QString::fromUtf8(line.file);
            levelEntry.line = line.line;
            levelEntry.unit = QFileInfo(levelEntry.file).completeBaseName();
            if (!line.function.isEmpty()) {
                levelEntry.hasRoutine = true;
                levelEntry.routine = Demangle(line.function.constData());
            }
            if (level == levels.size() - 1)
                levelEntry.routineFirstLine = firstLine;
            std::uintptr_t start = address;
            while (start > lowest && address - start < kMaxLineBytes && SameLine(LinesAt(start - 1), line))
                --start;
            levelEntry.lineOffset = std::intptr_t(address - start);
            entries.push_back(levelEntry);
        }
    }
    return entries;
}

QString FormatStackEntry(const StackEntry &entry)
{
    const QString address = QLatin1Char('[') + Address(entry.address) + QLatin1Char(']');
    QString routine = entry.routine;
    if (!entry.unit.isEmpty() && routine.startsWith(entry.unit + QLatin1Char('.')))
        routine = routine.mid(entry.unit.size() + 1);
    if (entry.hasLine) {
        QString text = address + QLatin1Char(' ');
        text += entry.unit;
        if (!routine.isEmpty())
            text += (entry.unit.isEmpty() ? QString() : QStringLiteral(".")) + routine;
        text += QStringLiteral(" (Line %1, \"%2\"").arg(entry.line).arg(entry.file);
        if (entry.routineFirstLine > 0)
            text += QStringLiteral(" + %1").arg(entry.line - entry.routineFirstLine);
        text += QLatin1Char(')') + SignedOffset(entry.lineOffset);
        return text;
    }
    if (entry.hasRoutine) {
        const QString name = entry.unit.isEmpty() ? routine : entry.unit + QLatin1Char('.') + routine;
        return address + QLatin1Char(' ') + name + SignedOffset(entry.routineOffset);
    }
    return QLatin1Char('(') + Address(entry.moduleOffset) + QStringLiteral(") ") + address;
}

QStringList StackDumpLines(const void *exceptionObject)
{
    QStringList lines;
    for (const StackEntry &entry : ResolveStack(RecordedStackOf(exceptionObject)))
        lines << FormatStackEntry(entry);
    return lines;
}
