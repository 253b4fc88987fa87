#include "Application.h"

#include "app/ExitSignals.h"

#include <QMessageBox>

#include <clocale>
#include <stdexcept>

namespace {

Application::ExceptionHandler &Handler()
{
    static Application::ExceptionHandler handler;
    return handler;
}

}  // namespace

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    // Constructing the application adopted the user's locale for the C
    // library; number parsing must never depend on it.
    std::setlocale(LC_NUMERIC, "C");
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        HandleException(receiver, e);
    } catch (...) {
        HandleException(receiver, std::runtime_error("Unknown exception"));
    }
    return false;
}

void Application::SetExceptionHandler(ExceptionHandler handler)
{
    Handler() = std::move(handler);
}

void Application::HandleException(QObject *sender, const std::exception &e)
{
    if (Handler()) {
        Handler()(sender, e);
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Ferrovane"), QString::fromUtf8(e.what()));
}

void Application::CatchExitSignals(std::function<void()> handler)
{
    ::CatchExitSignals(this, [handler = std::move(handler)](int) { handler(); });
}
