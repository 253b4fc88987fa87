#pragma once

// Answers the modal dialog that a test's action opens: polls for the active
// modal widget and hands it to a callback, which must close it. Scoped to one
// test: the watcher stops when it goes out of scope, and a dialog still open
// then is rejected so it never leaks into the next test.

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>

class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> answer) : answer_(std::move(answer))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == last_)
                return;
            // Focus moves and typing reach a dialog only once it is the
            // active window, which comes later than its showing on a busy machine.
            // A dialog that comes back after another one closed is not made
            // active again by every platform: ask for it.
            if (QApplication::activeWindow() != modal) {
                modal->activateWindow();
                return;
            }
            last_ = modal;
            ++seen_;
            answer_(modal);
        });
        timer_.start();
    }
    ~ModalWatcher()
    {
        timer_.stop();
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    }
    int Seen() const { return seen_; }

private:
    std::function<void(QWidget *)> answer_;
    QTimer timer_;
    QWidget *last_ = nullptr;
    int seen_ = 0;
};
