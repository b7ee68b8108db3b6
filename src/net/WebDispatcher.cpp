#include "net/WebDispatcher.h"

#include "net/WebConnections.h"
#include "net/WebInet.h"

#include <QCoreApplication>
#include <QThread>

#include <curl/curl.h>

namespace dm {

namespace {
TWebDispatcher* instance = nullptr;
}

TWebDispatcher* TWebDispatcher::Instance() {
    if (!instance) {
        Q_ASSERT(QCoreApplication::instance());
        Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
        instance = new TWebDispatcher();
    }
    return instance;
}

TWebDispatcher::TWebDispatcher() : QObject(QCoreApplication::instance()) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &TWebDispatcher::Shutdown);
}

TWebDispatcher::~TWebDispatcher() {
    // Without an event loop (the application object is going): a thread blocked in a delivery is
    // released when its pending call is thrown away, and then finds the program closing.
    closing_ = true;
    for (;;) {
        AbortAll();
        bool all = true;
        for (auto& w : workers_) all = all && w.done;
        if (all) break;
        QCoreApplication::removePostedEvents(this);
        QThread::msleep(1);
    }
    for (auto& w : workers_)
        if (w.thread.joinable()) w.thread.join();
    workers_.clear();
    TKeptConnections::Instance().CloseAll();
    if (instance == this) instance = nullptr;
}

void TWebDispatcher::Start(std::shared_ptr<TWebInet> inet) {
    Reap();
    if (closing_) return;
    auto& w = workers_.emplace_back();
    w.inet = std::move(inet);
    TWorker* worker = &w;
    w.thread = std::thread([this, worker] {
        worker->inet->Execute();
        worker->done = true;
        QMetaObject::invokeMethod(this, [this] { Reap(); }, Qt::QueuedConnection);
    });
}

bool TWebDispatcher::Deliver(const std::function<void()>& call) {
    if (closing_) return false;
    bool ran = false;
    QMetaObject::invokeMethod(
        this,
        [&] {
            if (closing_) return;
            ++deliveryDepth_;
            call();
            --deliveryDepth_;
            ran = true;
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

int TWebDispatcher::Active() const {
    int n = 0;
    for (auto& w : workers_)
        if (!w.done) ++n;
    return n;
}

void TWebDispatcher::Reap() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void TWebDispatcher::AbortAll() {
    for (auto& w : workers_)
        if (!w.done) w.inet->Abort();
}

void TWebDispatcher::Shutdown() {
    closing_ = true;
    AbortAll();
    // Called from inside a handler, the threads below us on the stack cannot end yet; the
    // call made when the event loop quits (or the destructor) finishes the job.
    if (deliveryDepth_ > 0) return;
    while (Active() > 0) {
        // Threads waiting in a delivery need the event loop to turn once to see the closing flag.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        AbortAll();
        QThread::msleep(1);
    }
    Reap();
    // Nothing stays open behind the program's back, nor holds a server's stop waiting for it.
    TKeptConnections::Instance().CloseAll();
}

} // namespace dm
