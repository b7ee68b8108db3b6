#pragma once

// The program's own pictures: its icon, and the small marks drawn in code.

#include <QIcon>
#include <QImage>

class QPainter;
class QRect;

namespace dm {

// The window and tray icon.
QIcon AppIcon();
// The same with the failure mark in its lower right corner: the last session failed.
QIcon AppIconFailed();
// The 11 x 11 failure mark of the status strip and the log viewer, in logical pixels, drawn for
// the given device-pixel ratio.
QImage FailedMark(qreal devicePixelRatio = 1);
// The 15 x 14 marks of a biller's flags in the Options dialog's biller list: a tick for a set
// flag, an empty box for a cleared one.
const QImage& FlagMark(bool set);
// The soft blue band behind the title of the small dialogs.
void PaintDialogBand(QPainter& painter, const QRect& band);

} // namespace dm
