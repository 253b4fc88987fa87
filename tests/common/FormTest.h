#pragma once

// Starting the real main window in a test, and reading its log.

#include "app/Unit1.h"
#include "common/LogLines.h"

#include <QPushButton>
#include <QtTest>

#include <memory>

// Shows a new main window over the service and waits until its start-up
// sequence has run (it runs whole, in one turn, after the first show).
inline void StartForm(std::unique_ptr<TForm1> &form, DeviceService &service)
{
    form = std::make_unique<TForm1>(service);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTRY_VERIFY(form->Log.Document().LineCount() >= 1);
    QVERIFY(form->CopyBitBtn->isEnabled());
}
