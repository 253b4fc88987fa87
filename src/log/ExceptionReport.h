#pragma once

#include <QString>

class LogSink;

// The log lines of an exception report: the message and the class name,
// the stack recorded when the exception object was thrown, and the message
// and class name again, so that both stand before and after the stack.
void WriteExceptionReport(LogSink &log, const QString &message, const QString &className, const void *exceptionObject);
