#pragma once

// The one place where the engine's byte strings meet Qt's text, and the form font rule.

#include <QFont>
#include <QString>

#include <string>
#include <string_view>

class QWidget;

namespace dm {

// UTF-8, or Latin-1 when the bytes are not valid UTF-8 (settings files of older versions).
QString GuiText(std::string_view bytes);
// Carriage returns of the fixed message texts become line breaks.
QString GuiMessageText(std::string_view bytes);
std::string EngineText(const QString& text);
// For a field that showed `original`: its bytes back when the user left the text as shown (a
// Latin-1 password stays Latin-1), else the edited text in UTF-8.
std::string EngineText(const QString& text, std::string_view original);

// The desktop's UI font, the same for every form.
QFont FormFont();
void ApplyFormFont(QWidget* form);
// The form font in the given point size and weight (the strips and dialogs state sizes).
QFont FormFont(double pointSize, bool bold = false);
// A font given in pixels, as the forms' layouts state it.
QFont PixelFont(int pixels, bool bold = false);

} // namespace dm
