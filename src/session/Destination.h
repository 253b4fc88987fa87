#pragma once

#include <QString>

// The destination folder as a user typed or chose it, looked at before a
// run starts: ready, missing (to be made when the user agrees), or refused
// with the reason to say.
struct DestinationCheck
{
    enum State { Ready, Missing, Refused };
    State state = Refused;
    QString path;    // cleaned: no trailing slash, no "." or ".." steps
    QString reason;  // for Refused: a sentence for the log
};

DestinationCheck CheckDestination(const QString &typed);

// Makes the folder and those above it that are missing; the reason it could
// not, or empty.
QString MakeDestination(const QString &path);
