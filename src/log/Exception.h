#pragma once

#include <QString>

#include <exception>
#include <string>

// The program's own error: a message for the user and the log.
class Exception : public std::exception
{
public:
    explicit Exception(const QString &message) : message_(message), utf8_(message.toStdString()) {}
    const QString &Message() const { return message_; }
    const char *what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};

// The class name of an exception object, for the exception report.
QString ExceptionClassName(const std::exception &e);
