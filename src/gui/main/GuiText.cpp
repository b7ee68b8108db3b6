#include "gui/main/GuiText.h"

#include <QFontDatabase>
#include <QStringDecoder>
#include <QWidget>

namespace dm {

QString GuiText(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString GuiMessageText(std::string_view bytes) {
    QString text = GuiText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

std::string EngineText(const QString& text) { return text.toStdString(); }

std::string EngineText(const QString& text, std::string_view original) {
    if (text == GuiText(original)) return std::string(original);
    return EngineText(text);
}

QFont FormFont() { return QFontDatabase::systemFont(QFontDatabase::GeneralFont); }

void ApplyFormFont(QWidget* form) { form->setFont(FormFont()); }

QFont FormFont(double pointSize, bool bold) {
    QFont font = FormFont();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont PixelFont(int pixels, bool bold) {
    QFont font = FormFont();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace dm
