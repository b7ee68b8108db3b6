#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace dm {

class TWebInet;

// The one place where request threads meet the main thread. It owns the threads, runs their
// notifications on the main thread while they wait, and ends them when the program exits.
class TWebDispatcher : public QObject {
    Q_OBJECT

public:
    // Created on first use, on the main thread, as a child of the application object.
    static TWebDispatcher* Instance();
    ~TWebDispatcher() override;

    void Start(std::shared_ptr<TWebInet> inet);
    // From a request thread: runs the call on the main thread and waits for it. False, without
    // running it, once the program is closing.
    bool Deliver(const std::function<void()>& call);

    bool Closing() const { return closing_; }
    int Active() const;
    void Shutdown();

private:
    TWebDispatcher();
    void Reap();
    void AbortAll();

    struct TWorker {
        std::shared_ptr<TWebInet> inet;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<TWorker> workers_;
    std::atomic<bool> closing_{false};
    // Handlers on the main thread's stack; their threads cannot end before the handlers return.
    int deliveryDepth_ = 0;
};

} // namespace dm
