#pragma once

// Starting the real main window in a test, and reading its log.

#include "app/Unit1.h"
#include "common/FormProbe.h"
#include "common/LogLines.h"

#include <QPushButton>
#include <QtTest>

#include <memory>

// Waits until the window's worker (a listing or a copy run) has ended and
// the window is idle again.
inline void WaitIdle(TForm1 &form, int timeoutMs = 30000)
{
    QTRY_VERIFY_WITH_TIMEOUT(FormProbe::Idle(form), timeoutMs);
}

// Shows a new main window over the service and waits until its start-up
// sequence has run: the scan after the first paint, then the listing of the
// remembered device on the worker.
inline void StartForm(std::unique_ptr<TForm1> &form, DeviceService &service)
{
    form = std::make_unique<TForm1>(service);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTRY_VERIFY(FormProbe::Log(*form).Document().LineCount() >= 1);
    WaitIdle(*form);
}
