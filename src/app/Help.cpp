#include "Help.h"

#include "app/ProgramFolders.h"
#include "log/LogSink.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBrowser>
#include <QWidget>

namespace {

constexpr int kStatusMessageMs = 10000;

}  // namespace

bool DesktopCanShowPages()
{
    // xdg-open hands a page to the browser the desktop names for HTML, or
    // to $BROWSER; without either it fails after we have let go of it.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        return false;
    if (!qEnvironmentVariableIsEmpty("BROWSER"))
        return true;
    QProcess query;
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    // A desktop that cannot say is given the benefit of the doubt.
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return true;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

bool OpenOnDesktop(const QUrl &url)
{
    return DesktopCanShowPages() && QDesktopServices::openUrl(url);
}

int HelpContextFor(const QWidget *control)
{
    for (const QWidget *w = control; w; w = w->parentWidget()) {
        const int context = w->property(kHelpContextProperty).toInt();
        if (context > 0)
            return context;
        // Help belongs to each window: a dialog without a number does not
        // borrow the one of the window it was opened from.
        if (w->isWindow())
            break;
    }
    return 0;
}

QString FindHelpFile()
{
    const QString name = QStringLiteral("index.html");
    for (const QString &folder :
         {QStringLiteral("help/"), QStringLiteral("../share/ferrovane/help/"), QStringLiteral("../help/")}) {
        const QString candidate = QDir::cleanPath(ProgramFolder + folder + name);
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return HelpFilePath;
}

QUrl HelpUrl(const QString &helpFile, int context)
{
    QUrl url = QUrl::fromLocalFile(helpFile);
    if (context > 0)
        url.setFragment(QStringLiteral("ctx%1").arg(context));
    return url;
}

HelpHandler::HelpHandler(LogSink &log, QStatusBar *statusBar, QObject *parent)
    : QObject(parent), log_(log), statusBar_(statusBar), opener_(&OpenOnDesktop)
{
    QCoreApplication::instance()->installEventFilter(this);
}

HelpHandler::~HelpHandler()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

void HelpHandler::ShowHelp()
{
    const QString file = FindHelpFile();
    Open(HelpUrl(file, 0), file);
}

bool HelpHandler::HH(int command, int data)
{
    if (command == HELP_CONTEXT && data > 0) {
        const QString file = FindHelpFile();
        Open(HelpUrl(file, data), file);
    }
    return false;
}

void HelpHandler::Open(const QUrl &url, const QString &file)
{
    QString reason;
    if (!QFileInfo(file).isFile())
        reason = QStringLiteral("the help file is missing");
    else if (!opener_(url)) {
        // A desktop without a browser: the pages are simple enough for our own viewer.
        ShowInViewer(url);
        return;
    }
    if (reason.isEmpty())
        return;
    const QString text = QStringLiteral("Unable to open help %1: %2.").arg(url.toString(), reason);
    log_.WriteLog(text, LogColor::Red);
    if (statusBar_)
        statusBar_->showMessage(text, kStatusMessageMs);
}

void HelpHandler::ShowInViewer(const QUrl &url)
{
    if (!viewer_) {
        viewer_ = new QTextBrowser;
        viewer_->setAttribute(Qt::WA_DeleteOnClose, false);
        viewer_->setWindowTitle(QStringLiteral("Ferrovane Help"));
        viewer_->setOpenExternalLinks(true);
        viewer_->setAccessibleName(QStringLiteral("Help"));
        viewer_->resize(QSize(640, 560).boundedTo(QGuiApplication::primaryScreen()
                                                      ? QGuiApplication::primaryScreen()->availableSize() * 9 / 10
                                                      : QSize(640, 560)));
        auto *back = new QShortcut(QKeySequence::Back, viewer_);
        connect(back, &QShortcut::activated, viewer_.data(), &QTextBrowser::backward);
        auto *close = new QShortcut(QKeySequence(Qt::Key_Escape), viewer_);
        connect(close, &QShortcut::activated, viewer_.data(), &QWidget::close);
        connect(this, &QObject::destroyed, viewer_.data(), &QObject::deleteLater);
    }
    viewer_->setSource(url);
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

bool HelpHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier)
        return false;
    // The first delivery goes to the focused control; answering it ends the
    // key press, so it never climbs to the parents.
    auto *control = static_cast<QWidget *>(watched);
    HH(HELP_CONTEXT, HelpContextFor(control));
    return true;
}
