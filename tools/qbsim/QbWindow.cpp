// The windows of the stand-in, made to look to another program as QuickBooks' own do: the
// main window and the Preferences window carry QuickBooks' window classes, the preferences
// page of integrated applications has its check box as a window of its own, and the menus are
// on the accessibility bus.

#include "QbWindow.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

// Last: Xlib's macros would break the headers above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dm {

namespace {

Display* XDisplay() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// Qt names every window after the program; these take the names QuickBooks' windows have.
void SetWindowClass(QWidget* widget, const char* windowClass, const QString& text = {}) {
    Display* display = XDisplay();
    if (!display) return;
    const Window window = static_cast<Window>(widget->winId());
    QByteArray name(windowClass);
    XClassHint hint{name.data(), name.data()};
    XSetClassHint(display, window, &hint);
    if (!text.isEmpty()) {
        const QByteArray utf8 = text.toUtf8();
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8.constData()), static_cast<int>(utf8.size()));
        XStoreName(display, window, text.toLatin1().constData());
    }
    XFlush(display);
}

// Every key pressed, written the way a key sequence names it ("{home}", "%c"), so that a test
// sees what reached the program.
class TKeyRecorder : public QAbstractNativeEventFilter {
public:
    explicit TKeyRecorder(const QString& path) : file_(path) {
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            std::cerr << "invara-qbsim: cannot write " << path.toStdString() << "\n";
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_KEY_PRESS || !file_.isOpen()) return false;
        auto* key = static_cast<xcb_key_press_event_t*>(message);
        const KeySym sym = XkbKeycodeToKeysym(XDisplay(), key->detail, 0, 0);
        if (sym == NoSymbol || IsModifierKey(sym)) return false;
        QByteArray line;
        if (key->state & ShiftMask) line += '+';
        if (key->state & ControlMask) line += '^';
        if (key->state & Mod1Mask) line += '%';
        if (sym > 0x20 && sym < 0x7F) line += static_cast<char>(std::tolower(static_cast<int>(sym)));
        else if (const char* name = XKeysymToString(sym)) line += '{' + QByteArray(name).toLower() + '}';
        file_.write(line + '\n');
        return false;
    }

private:
    QFile file_;
};

const char* const OtherEntries[] = {
    "Accounting", "Bills", "Checking", "Jobs & Estimates", "Payroll & Employees", "Reminders",
    "Sales & Customers", "Sales Tax", "Send Forms",
};
const char* const IntegratedApplications = "Integrated Applications";

class TPreferences : public QWidget {
public:
    explicit TPreferences(int pageAt) {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(QStringLiteral("Preferences"));
        // QuickBooks' Preferences window keeps its size whatever page it shows.
        setFixedSize(720, 430);
        move(160, 180);
        auto* layout = new QHBoxLayout(this);
        list_ = new QListWidget;
        list_->setObjectName(QStringLiteral("PreferenceList"));
        for (const char* entry : OtherEntries) list_->addItem(QString::fromUtf8(entry));
        list_->insertItem(std::clamp(pageAt - 1, 0, list_->count()), QString::fromLatin1(IntegratedApplications));
        list_->setFixedWidth(170);
        layout->addWidget(list_);
        auto* right = new QVBoxLayout;
        title_ = new QLabel;
        QFont bold = title_->font();
        bold.setBold(true);
        title_->setFont(bold);
        right->addWidget(title_);
        pageHolder_ = new QVBoxLayout;
        right->addLayout(pageHolder_, 1);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        for (const char* caption : {"OK", "Cancel", "Help"}) {
            auto* button = new QPushButton(QString::fromLatin1(caption));
            button->setFocusPolicy(Qt::NoFocus); // the list keeps the keys, as QuickBooks' does
            if (std::string_view(caption) != "Help") connect(button, &QPushButton::clicked, this, &QWidget::close);
            buttons->addWidget(button);
        }
        right->addLayout(buttons);
        layout->addLayout(right, 1);
        connect(list_, &QListWidget::currentRowChanged, this, &TPreferences::ShowPage);
        list_->setCurrentRow(0);
        SetWindowClass(this, "MauiForm");
    }
    void Present() {
        show();
        raise();
        activateWindow();
        list_->setFocus();
    }

private:
    // The page is made anew for each entry: its windows exist only while it is shown.
    void ShowPage(int row) {
        if (row < 0) return;
        delete page_;
        title_->setText(list_->item(row)->text());
        page_ = new QTabWidget;
        page_->setFocusPolicy(Qt::NoFocus);
        auto* mine = new QLabel(QStringLiteral("There are no personal preferences for this item."));
        mine->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        page_->addTab(mine, QStringLiteral("&My Preferences"));
        auto* company = new QWidget;
        auto* layout = new QVBoxLayout(company);
        if (list_->item(row)->text() == QLatin1String(IntegratedApplications)) {
            layout->addWidget(new QLabel(QStringLiteral("Manage all applications that can access this company file.")));
            auto* apps = new QTreeWidget;
            apps->setHeaderLabels({QStringLiteral("Allow Access"), QStringLiteral("Application Name")});
            apps->addTopLevelItem(new QTreeWidgetItem({QString(), QStringLiteral("Invara Desktop Manager")}));
            apps->header()->resizeSection(0, 100);
            apps->setFocusPolicy(Qt::NoFocus);
            layout->addWidget(apps, 1);
            auto* none = new QCheckBox(QStringLiteral("Don't allow any applications to access this company file"));
            auto* notify = new QCheckBox(
                QStringLiteral("Notify the user before running any application whose certificate has expired"));
            for (QCheckBox* box : {none, notify}) {
                box->setFocusPolicy(Qt::NoFocus);
                layout->addWidget(box);
            }
            notify->setAttribute(Qt::WA_NativeWindow);
            auto* properties = new QPushButton(QStringLiteral("Properties..."));
            properties->setFocusPolicy(Qt::NoFocus);
            layout->addWidget(properties, 0, Qt::AlignRight);
            page_->addTab(company, QStringLiteral("&Company Preferences"));
            pageHolder_->addWidget(page_);
            SetWindowClass(notify, "MauiCheckBox", notify->text());
            return;
        }
        layout->addWidget(new QLabel(QStringLiteral("Company-wide settings of %1.").arg(title_->text())));
        layout->addStretch();
        page_->addTab(company, QStringLiteral("&Company Preferences"));
        pageHolder_->addWidget(page_);
    }

    QListWidget* list_;
    QLabel* title_;
    QVBoxLayout* pageHolder_;
    QTabWidget* page_ = nullptr;
};

class TQuickBooksMain : public QMainWindow {
public:
    explicit TQuickBooksMain(const TQbWindowOptions& options) : pageAt_(options.PageAt) {
        const QString title = QString::fromStdString(options.Title);
        setWindowTitle(title);
        resize(720, 480);
        QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
        file->addAction(QStringLiteral("&Open or Restore Company..."));
        file->addSeparator();
        file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
        QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
        edit->addAction(QStringLiteral("&Undo"))->setEnabled(false);
        edit->addSeparator();
        edit->addAction(QStringLiteral("Pr&eferences..."), this, &TQuickBooksMain::OpenPreferences);
        menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About QuickBooks"));
        auto* home = new QLabel(QStringLiteral("<h2>%1</h2><p>Home</p>").arg(title.toHtmlEscaped()));
        home->setAlignment(Qt::AlignCenter);
        setCentralWidget(home);
        SetWindowClass(this, "MauiFrame");
    }

private:
    void OpenPreferences() {
        if (!preferences_) preferences_ = new TPreferences(pageAt_);
        preferences_->Present();
    }
    int pageAt_;
    QPointer<TPreferences> preferences_;
};

} // namespace

int RunQuickBooksWindow(const char* program, const TQbWindowOptions& options) {
    // QuickBooks' windows are X11 windows (under a compatibility layer too), and like any
    // program's its menus are on the accessibility bus.
    qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("QT_LINUX_ACCESSIBILITY_ALWAYS_ON")) qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::cerr << "invara-qbsim: window needs an X11 display (DISPLAY is not set)\n";
        return 1;
    }
    int argc = 1;
    char* argv[] = {const_cast<char*>(program), nullptr};
    QApplication app(argc, argv);
    if (!XDisplay()) {
        std::cerr << "invara-qbsim: window needs an X11 display\n";
        return 1;
    }
    std::unique_ptr<TKeyRecorder> recorder;
    if (!options.KeysFile.empty()) {
        recorder = std::make_unique<TKeyRecorder>(QString::fromStdString(options.KeysFile));
        app.installNativeEventFilter(recorder.get());
    }
    TQuickBooksMain main(options);
    main.move(40, 60);
    main.show();
    std::cout << "QuickBooks' window is open; close it to end.\n" << std::flush;
    return app.exec();
}

} // namespace dm
