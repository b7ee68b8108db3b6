#include "gui/dialogs/ViewLogView.h"

#include "engine/ViewLog.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace dm {

// Rows of a list the engine holds; the view only counts and names them.
class TRowsModel : public QAbstractListModel {
public:
    TRowsModel(std::function<int()> count, std::function<QString(int)> text, QObject* parent)
        : QAbstractListModel(parent), count_(std::move(count)), text_(std::move(text)) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_(); }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || index.row() < 0 || index.row() >= count_()) return {};
        return text_(index.row());
    }
    void Reset() {
        beginResetModel();
        endResetModel();
    }

private:
    std::function<int()> count_;
    std::function<QString(int)> text_;
};

namespace {

constexpr int SessionItemHeight = 16;
constexpr int EventItemHeight = 14;

class TSessionDelegate : public QStyledItemDelegate {
public:
    TSessionDelegate(const TViewLog& log, QObject* parent) : QStyledItemDelegate(parent), log_(log) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.row() < 0 || index.row() >= static_cast<int>(log_.Sessions.size())) return;
        const TLogSession& session = log_.Sessions[index.row()];
        const bool selected = option.state & QStyle::State_Selected;
        const QRect r = option.rect;
        const int h = option.fontMetrics.height();
        const QPalette& pal = option.palette;
        QColor text;
        p->save();
        if (!session.Completed) {
            p->fillRect(r, selected ? QColor(128, 0, 0) : pal.color(QPalette::Base));
            p->drawImage(r.left() + 1, r.top() + 2, FailedMark());
            text = selected ? pal.color(QPalette::HighlightedText) : QColor(255, 0, 0);
        } else {
            p->fillRect(r, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
            p->setRenderHint(QPainter::Antialiasing);
            p->setPen(Qt::NoPen);
            p->setBrush(QColor(0, 128, 0));
            p->drawEllipse(QRectF(r.left() + 5, r.top() + 5, h - 7, h - 7));
            text = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::WindowText);
        }
        p->setPen(text);
        p->setFont(option.font);
        p->drawText(QRect(r.left() + h + 2, r.top() + 1, r.width() - h - 2, r.height() - 1),
                    Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, GuiText(SessionLabel(session.Text)));
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), std::max(SessionItemHeight, option.fontMetrics.height() + 1)};
    }

private:
    const TViewLog& log_;
};

class TEventDelegate : public QStyledItemDelegate {
public:
    TEventDelegate(const TViewLog& log, QObject* parent)
        : QStyledItemDelegate(parent), log_(log), small_(FormFont(7)), normal_(FormFont(8)) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.row() < 0 || index.row() >= static_cast<int>(log_.Events.size())) return;
        const QString text = GuiText(log_.Events[index.row()].Text);
        const qsizetype hash = text.indexOf(QLatin1Char('#'));
        const QString time = (hash < 0 ? text : text.left(hash)).trimmed();
        const QString message = hash < 0 ? QString() : text.mid(hash + 1).trimmed();
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        const QRect r = option.rect;
        p->save();
        p->fillRect(r, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
        const QFontMetrics small(small_), normal(normal_);
        // Both texts stand on the message's baseline.
        const int baseline = r.top() + normal.ascent();
        p->setFont(small_);
        p->setPen(selected ? pal.color(QPalette::HighlightedText) : QColor(128, 128, 128));
        p->drawText(QPoint(r.left() + 2, baseline), time);
        p->setFont(normal_);
        p->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::WindowText));
        p->drawText(QPoint(r.left() + 2 + small.horizontalAdvance(time + QStringLiteral("  ")), baseline), message);
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), std::max(EventItemHeight, QFontMetrics(normal_).height())};
    }

private:
    const TViewLog& log_;
    QFont small_, normal_;
};

QListView* List(QWidget* parent, const char* name) {
    auto* list = new QListView(parent);
    list->setObjectName(QLatin1String(name));
    list->setFrameShape(QFrame::NoFrame);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

} // namespace

TViewLogView::TViewLogView(TViewLog& log, QWidget* parent) : QDialog(parent), log_(log) {
    setObjectName(QStringLiteral("ViewLog"));
    setWindowTitle(QStringLiteral("View Log"));
    ApplyFormFont(this);
    resize(757, 529);
    setMinimumSize(700, 500);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    btnSendSession = new QPushButton(QStringLiteral("Send Session to Support"), this);
    btnSendSession->setObjectName(QStringLiteral("btnSendSession"));
    btnSendSession->setAutoDefault(false);
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    auto* lblLogFile = new QLabel(QStringLiteral("Log File:"), this);
    lbxLogFile = new QComboBox(this);
    lbxLogFile->setObjectName(QStringLiteral("lbxLogFile"));
    btnDeleteLogFile = new QPushButton(QStringLiteral("Delete Log File"), this);
    btnDeleteLogFile->setObjectName(QStringLiteral("btnDeleteLogFile"));
    btnDeleteLogFile->setAutoDefault(false);
    btnDeleteAllLogs = new QPushButton(QStringLiteral("Delete All Logs"), this);
    btnDeleteAllLogs->setObjectName(QStringLiteral("btnDeleteAllLogs"));
    btnDeleteAllLogs->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(btnSendSession);
    top->addWidget(btnClose);
    top->addSpacing(8);
    top->addWidget(lblLogFile);
    top->addWidget(lbxLogFile, 1);
    top->addSpacing(8);
    top->addWidget(btnDeleteLogFile);
    top->addWidget(btnDeleteAllLogs);

    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    left->addWidget(new QLabel(QStringLiteral("Sessions:"), this));
    lbxSessions = List(this, "lbxSessions");
    // 209 pixels, or what the longest label needs in the desktop's font.
    const QFontMetrics labels(lbxSessions->font());
    const int sessionsWidth =
        std::max(209, labels.height() + 10 + labels.horizontalAdvance(QStringLiteral("0000 on 12/30/2026 at 12:59:59 PM")));
    lbxSessions->setFixedWidth(sessionsWidth);
    left->addWidget(lbxSessions, 1);
    prgReading = new QProgressBar(this);
    prgReading->setObjectName(QStringLiteral("prgReading"));
    prgReading->setFixedWidth(sessionsWidth);
    prgReading->setRange(0, 100);
    prgReading->setFormat(QStringLiteral("Reading the log... %p%"));
    prgReading->hide();
    left->addWidget(prgReading);

    pnlSession = new QWidget(this);
    pnlSession->setObjectName(QStringLiteral("pnlSession"));
    auto* right = new QVBoxLayout(pnlSession);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(2);
    right->addWidget(new QLabel(QStringLiteral("Events:"), pnlSession));
    Splitter1 = new QSplitter(Qt::Vertical, pnlSession);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    lbxEvents = List(Splitter1, "lbxEvents");
    txtContent = new QPlainTextEdit(Splitter1);
    txtContent->setObjectName(QStringLiteral("txtContent"));
    txtContent->setReadOnly(true);
    txtContent->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(11);
    txtContent->setFont(courier);
    Splitter1->addWidget(lbxEvents);
    Splitter1->addWidget(txtContent);
    Splitter1->setSizes({260, 200});
    right->addWidget(Splitter1, 1);

    auto* body = new QHBoxLayout;
    body->addLayout(left);
    body->addWidget(pnlSession, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(top);
    layout->addLayout(body, 1);

    sessions_ = new TRowsModel([this] { return static_cast<int>(log_.Sessions.size()); },
                               [this](int row) { return GuiText(SessionLabel(log_.Sessions[row].Text)); }, this);
    lbxSessions->setModel(sessions_);
    lbxSessions->setItemDelegate(new TSessionDelegate(log_, this));
    events_ = new TRowsModel([this] { return static_cast<int>(log_.Events.size()); },
                             [this](int row) { return GuiText(log_.Events[row].Text); }, this);
    lbxEvents->setModel(events_);
    lbxEvents->setItemDelegate(new TEventDelegate(log_, this));

    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnSendSession, &QPushButton::clicked, &log_, &TViewLog::btnSendSessionClick);
    connect(btnDeleteLogFile, &QPushButton::clicked, &log_, &TViewLog::btnDeleteLogFileClick);
    connect(btnDeleteAllLogs, &QPushButton::clicked, &log_, &TViewLog::btnDeleteAllLogsClick);
    connect(lbxLogFile, &QComboBox::activated, &log_, &TViewLog::lbxLogFileClick);
    connect(lbxSessions->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!updating_) log_.lbxSessionsClick(current.row());
            });
    connect(lbxEvents->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!updating_) log_.lbxEventsClick(current.row());
            });

    connect(&log_, &TViewLog::filesChanged, this, &TViewLogView::FilesChanged);
    connect(&log_, &TViewLog::sessionsChanged, this, &TViewLogView::SessionsChanged);
    connect(&log_, &TViewLog::eventsChanged, this, &TViewLogView::EventsChanged);
    connect(&log_, &TViewLog::contentChanged, this, [this] { txtContent->setPlainText(GuiText(log_.Content)); });
    connect(&log_, &TViewLog::sendingChanged, this, [this] {
        btnSendSession->setEnabled(!log_.Sending);
        btnClose->setEnabled(!log_.Sending);
    });
    connect(&log_, &TViewLog::progress, this, &TViewLogView::Progress);
    connect(&log_, &TViewLog::idle, this, &TViewLogView::Idle);
    connect(&log_, &TViewLog::closeRequested, this, [this] {
        hide();
        done(QDialog::Accepted);
    });

    setCursor(Qt::WaitCursor);
    log_.FormCreate();
    FilesChanged();
    if (!log_.Busy()) Idle();
}

void TViewLogView::FilesChanged() {
    QSignalBlocker block(lbxLogFile);
    lbxLogFile->clear();
    for (const TLogFileEntry& entry : log_.LogFiles) lbxLogFile->addItem(GuiText(entry.Text));
    lbxLogFile->setCurrentIndex(log_.LogFileIndex);
    btnDeleteLogFile->setEnabled(log_.DeleteLogFileEnabled());
}

void TViewLogView::SessionsChanged() {
    updating_ = true;
    sessions_->Reset();
    if (log_.SessionIndex >= 0) lbxSessions->setCurrentIndex(sessions_->index(log_.SessionIndex));
    updating_ = false;
}

void TViewLogView::EventsChanged() {
    updating_ = true;
    // The list keeps its scroll position from one session to the next.
    if (events_->rowCount({}) > 0) eventsTop_ = lbxEvents->indexAt(QPoint(1, 1)).row();
    events_->Reset();
    const int rows = events_->rowCount({});
    if (eventsTop_ >= 0 && eventsTop_ < rows)
        lbxEvents->scrollTo(events_->index(eventsTop_), QAbstractItemView::PositionAtTop);
    if (log_.EventIndex >= 0 && log_.EventIndex < rows) lbxEvents->setCurrentIndex(events_->index(log_.EventIndex));
    updating_ = false;
}

void TViewLogView::Progress(int percent) {
    setCursor(Qt::WaitCursor);
    prgReading->setValue(percent);
    prgReading->show();
}

void TViewLogView::Idle() {
    prgReading->hide();
    unsetCursor();
}

void TViewLogView::keyPressEvent(QKeyEvent* event) {
    // Escape is the Close button's key, and does nothing while that button is disabled.
    if (event->key() == Qt::Key_Escape && !btnClose->isEnabled()) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace dm
