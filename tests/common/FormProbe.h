#pragma once

// The window's insides for code outside its test classes: the shared test
// helpers and the benchmarks. The window names this struct its friend.

#include "app/Unit1.h"

#include <QPushButton>

struct FormProbe
{
    static ActivityLog &Log(TForm1 &form) { return form.Log; }
    static LogView *RichEdit1(TForm1 &form) { return form.RichEdit1; }
    // No worker running and the window back to idle.
    static bool Idle(const TForm1 &form) { return !form.Session->WorkerActive() && form.CopyBitBtn->isEnabled(); }
    static QPushButton *CopyBitBtn(TForm1 &form) { return form.CopyBitBtn; }
    static QPushButton *SaveSettingsBitBtn(TForm1 &form) { return form.SaveSettingsBitBtn; }
    static ImportSession &Session(TForm1 &form) { return *form.Session; }

    static DeviceConnection &Connection(TForm1 &form) { return form.Connection; }
    static void ListDeviceContents(TForm1 &form) { form.Session->ListAgain(); }
    static LabeledEdit *SearchLabeledEdit(TForm1 &form) { return form.SearchLabeledEdit; }
    static void SearchDeviceContents(TForm1 &form) { form.CatalogueArea->SearchDeviceContents(); }
    static TStringGrid *StringGrid1(TForm1 &form) { return form.StringGrid1; }
    static CatalogueGrid *StringGrid2(TForm1 &form) { return form.StringGrid2; }
    static PreviewPanel *Preview(TForm1 &form) { return form.PreviewArea->Preview; }
    static QPushButton *PreviewBitBtn(TForm1 &form) { return form.PreviewBitBtn; }
    static PreviewFetcher &Previews(TForm1 &form) { return *form.PreviewArea->Previews; }
    // The file the preview shows now.
    static QString PreviewKey(TForm1 &form) { return form.PreviewArea->Key(); }
};
