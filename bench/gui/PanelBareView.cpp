// The reference of the control-panel benchmark: a bare QWebEngineView in the default setup
// loading one address; prints the milliseconds from creating the view (the browser engine
// starts then, as it does at the agent's first Login) to the final page's loadFinished.

#include <QApplication>
#include <QElapsedTimer>
#include <QWebEngineView>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    QWebEngineView view;
    view.resize(870, 640);
    view.show();
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) {
        if (!ok) return;
        // Only the final page counts, not the redirecting start.
        if (!view.url().path().endsWith(QLatin1String("index.php"))) return;
        std::printf("%.3f\n", double(timer.nsecsElapsed()) / 1e6);
        std::fflush(stdout);
        std::_Exit(0);
    });
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return app.exec();
}
