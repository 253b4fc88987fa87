#pragma once

#include <QtGlobal>

class LogDocument;

// Where the activity log shows its lines: the main window's log view. The
// log tells it which document to paint and how many lines it holds now.
// The display must be a QObject too, so that the log notices when it is
// gone.
class LogDisplay
{
public:
    virtual ~LogDisplay() = default;

    // The document whose first lines are shown; nullptr when it goes away.
    virtual void SetDocument(const LogDocument *document) = 0;
    // How many lines of the document exist now. Only grows.
    virtual void SetLineCount(qsizetype count) = 0;
    // The newest line comes into sight and the display takes the keyboard
    // focus, as after every write.
    virtual void ShowNewest() = 0;
};
