#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Call stacks of C++ exceptions. Every throw in the process records the raw
// return addresses at the point of the throw; the exception report turns the
// stack of the exception it is handed into readable lines.

// One entry of a resolved stack, innermost first.
struct StackEntry
{
    std::uintptr_t address = 0;       // the code address in the running process
    std::uintptr_t moduleOffset = 0;  // the address relative to its module's start
    bool hasRoutine = false;          // a symbol was found
    QString unit;                     // the source file's base name without extension
    QString routine;                  // the routine's name
    std::intptr_t routineOffset = 0;  // bytes from the routine's start
    bool hasLine = false;             // a source file and line were found
    QString file;                     // the source file's name
    int line = 0;
    int routineFirstLine = 0;      // 0: not known
    std::intptr_t lineOffset = 0;  // bytes from the first address of the line
};

using RawStack = std::vector<std::uintptr_t>;

// The stack recorded when the given exception object was thrown (the address
// of the caught object). When that object is unknown, the stack of the last
// throw on this thread; empty when nothing was recorded.
RawStack RecordedStackOf(const void *exceptionObject);

// Names, files and lines for the addresses, from the program's debug
// information and the symbol tables of the loaded libraries.
std::vector<StackEntry> ResolveStack(const RawStack &stack);

// The report line for one entry.
QString FormatStackEntry(const StackEntry &entry);

// The report lines for the stack recorded with the exception object.
QStringList StackDumpLines(const void *exceptionObject);
