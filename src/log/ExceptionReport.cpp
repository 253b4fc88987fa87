#include "ExceptionReport.h"

#include "log/LogSink.h"
#include "log/StackTrace.h"

void WriteExceptionReport(LogSink &log, const QString &message, const QString &className, const void *exceptionObject)
{
    auto heading = [&] {
        log.WriteLog(QStringLiteral("Exception Message = ") + message, LogColor::Red, LogStyle::Bold);
        log.WriteLog(QStringLiteral("Exception Class Name = ") + className, LogColor::Red, LogStyle::Bold);
    };
    heading();
    log.WriteLogNoDate(QString(70, QLatin1Char('=')), LogColor::Black);
    log.WriteLog(QStringLiteral("Stack Dump:"), LogColor::Blue, LogStyle::Bold);
    for (const QString &line : StackDumpLines(exceptionObject))
        log.WriteLogNoDate(line, LogColor::Black);
    heading();
}
