#include "gui/dialogs/AboutView.h"

#include "engine/AppState.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace dm {

namespace {

TInstallerOpener& InstallerOpener() {
    static TInstallerOpener opener;
    return opener;
}

constexpr int StatusX = 24;
constexpr int StatusY = 193;
constexpr int MarkWidth = 13;

// The top picture: a soft band with the program's icon and name.
class TBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient fill(0, 0, 0, height());
        fill.setColorAt(0, QColor(255, 255, 255));
        fill.setColorAt(1, QColor(214, 228, 245));
        p.fillRect(rect(), fill);
        p.drawPixmap(QRect(14, 18, 40, 40), AppIcon().pixmap(40, 40));
        p.setPen(QColor(20, 50, 100));
        p.setFont(FormFont(15, true));
        p.drawText(QRect(64, 18, width() - 70, 40), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(ApplicationTitle));
        // The bevel below the picture.
        p.setPen(QColor(160, 160, 160));
        p.drawLine(0, height() - 2, width(), height() - 2);
        p.setPen(Qt::white);
        p.drawLine(0, height() - 1, width(), height() - 1);
    }
};

// The 13 x 12 marks beside the status: a red disc with a cross, or a green disc with a tick.
class TMark : public QWidget {
public:
    TMark(bool success, QWidget* parent) : QWidget(parent), success_(success) { setFixedSize(MarkWidth, 12); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(success_ ? QColor(40, 160, 60) : QColor(210, 40, 40));
        p.drawEllipse(QRectF(0.5, 0, 12, 12));
        p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
        if (success_) {
            p.drawPolyline(QPolygonF({QPointF(3.5, 6), QPointF(5.8, 8.5), QPointF(9.5, 3.5)}));
        } else {
            p.drawLine(QPointF(4, 3.5), QPointF(9, 8.5));
            p.drawLine(QPointF(9, 3.5), QPointF(4, 8.5));
        }
    }

private:
    bool success_;
};

class TBanner : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(135, 206, 235)); // sky blue
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(Qt::black);
        const QString text = QString::fromLatin1(TestModeBannerText);
        const QFontMetrics m(bold);
        p.drawText((width() - m.horizontalAdvance(text)) / 2, (height() - m.height()) / 2 + m.ascent(), text);
        p.setPen(QColor(128, 128, 128));
        p.drawLine(0, 0, width(), 0);
    }
};

} // namespace

TInstallerOpener SetInstallerOpener(TInstallerOpener opener) {
    TInstallerOpener previous = std::move(InstallerOpener());
    InstallerOpener() = std::move(opener);
    return previous;
}

bool OpenInstaller(const std::string& path) {
    if (InstallerOpener()) return InstallerOpener()(path);
    // The desktop's handler of Debian packages is its software installer; the file itself is
    // never started.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

TAboutView::TAboutView(TAppState& app, TUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), About(app, prompts) {
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ApplyFormFont(this);
    const int height = ClientHeight + (app.TestMode ? BannerHeight : 0);
    setFixedSize(ClientWidth, height);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(ClientWidth / 2, height / 2));

    Image2 = new TBackground(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(0, 0, ClientWidth, 173);
    Label3 = new QLabel(QStringLiteral("Links QuickBooks with Invara online invoicing."), Image2);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->move(64, 100);
    Label3->adjustSize();
    Label2 = new QLabel(GuiText(About.VersionLine()), Image2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->move(64, 116);
    Label2->adjustSize();

    Label4 = new QLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setTextFormat(Qt::PlainText);
    Label4->installEventFilter(this);
    Label4->setVisible(About.ShowStatus());
    imgError = new TMark(false, this);
    imgError->setObjectName(QStringLiteral("imgError"));
    imgError->move(8, 194);
    imgError->hide();
    Image3 = new TMark(true, this);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->move(StatusX, 194);
    Image3->hide();

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnOK->setGeometry(ClientWidth - 83, 186, 75, 25);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(ClientWidth - 185 - 8, 190, 185, 17);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    Panel1 = new TBanner(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, ClientHeight, ClientWidth, BannerHeight);
    Panel1->setVisible(app.TestMode);

    tmrStartup.setSingleShot(true);
    tmrStartup.setInterval(500);
    connect(&tmrStartup, &QTimer::timeout, this, [this] {
        raise();
        activateWindow();
    });
    tmrStartup.start();

    About.OpenInstaller = &OpenInstaller;
    connect(&About, &TAbout::changed, this, &TAboutView::Repaint);
    connect(&About, &TAbout::closeRequested, this, [this] { done(QDialog::Accepted); });
    connect(&About, &TAbout::frontRequested, this, [this] {
        raise();
        activateWindow();
    });
    Repaint();
}

TAboutView::~TAboutView() = default;

int TAboutView::ShowStartupCheck() {
    About.StartupCheck = true;
    About.ShowOk = false;
    Repaint();
    return exec();
}

void TAboutView::done(int result) {
    // Whatever is still on the way arrives at nobody.
    About.Detach();
    QDialog::done(result);
}

void TAboutView::Repaint() {
    const TAbout::TStatus status = About.Status;
    Label4->setText(GuiText(About.StatusText()));
    QFont font = FormFont();
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::WindowText, QGuiApplication::palette().color(QPalette::WindowText));
    int x = StatusX, y = StatusY;
    if (About.StatusIsLink()) {
        font.setPointSize(9);
        font.setUnderline(true);
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        Label4->setCursor(Qt::PointingHandCursor);
        y -= 2;
    } else {
        if (status == TAbout::TStatus::Downloading || status == TAbout::TStatus::Launched) font.setPointSize(8);
        Label4->unsetCursor();
    }
    const bool failed = status == TAbout::TStatus::CheckFailed || status == TAbout::TStatus::DownloadFailed;
    const bool success = status == TAbout::TStatus::UpToDate;
    if (failed || success) x += MarkWidth + 4;
    imgError->setVisible(failed && About.ShowStatus());
    Image3->setVisible(success && About.ShowStatus());
    Label4->setFont(font);
    Label4->setPalette(palette);
    Label4->move(x, y);
    // The status may be a path (no installer): it gives way to the OK button, not the reverse.
    Label4->adjustSize();
    const int room = (About.ShowOk ? btnOK->x() : ClientWidth) - x - 8;
    if (Label4->width() > room) Label4->resize(room, Label4->height());

    btnOK->setVisible(About.ShowOk);
    ProgressBar1->setVisible(About.ShowProgress);
    ProgressBar1->setMaximum(static_cast<int>(std::clamp<std::int64_t>(About.ProgressMax, 0, INT32_MAX)));
    ProgressBar1->setValue(static_cast<int>(std::clamp<std::int64_t>(About.ProgressPosition, 0, About.ProgressMax)));
}

bool TAboutView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label4 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && Label4->cursor().shape() == Qt::PointingHandCursor)
        About.Label4Click(true);
    return QDialog::eventFilter(watched, event);
}

} // namespace dm
