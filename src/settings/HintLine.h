#pragma once

class QLabel;
class QWidget;

// A line at the foot of a dialog that shows the hint of the control under
// the mouse, or else of the control with the keyboard focus: what a main
// window's status bar does for its own controls.
QLabel *MakeHintLine(QWidget *dialog);
