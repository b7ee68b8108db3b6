// One running copy per user: a second copy hands over its arguments and ends with 0, and the
// first comes to the front.

#include "gui/main/SingleInstance.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace dm;
using nlohmann::json;

TEST(SingleInstance, SecondCopyHandsOverAndTheFirstComesToTheFront) {
    dmtest::TWindowFixture f(json::array());
    f.Open();
    const QString name = QStringLiteral("invara-test-guard-%1").arg(getpid());
    TSingleInstance first(name);
    ASSERT_TRUE(first.Claim({}));
    QStringList handed;
    bool activated = false;
    QObject::connect(&first, &TSingleInstance::activated, [&](const QStringList& arguments) {
        handed = arguments;
        activated = true;
        f.window->BringToFront();
    });
    f.window->showMinimized();
    ASSERT_TRUE(dmtest::WaitUntil([&] { return f.window->isMinimized(); }));

    TSingleInstance second(name);
    EXPECT_FALSE(second.Claim({"-m", "-storage=/tmp/x y"}));
    ASSERT_TRUE(dmtest::WaitUntil([&] { return activated; }));
    EXPECT_EQ(handed, (QStringList{"-m", "-storage=/tmp/x y"}));
    EXPECT_FALSE(f.window->isMinimized());
    EXPECT_TRUE(f.window->isVisible());

    // Once the first copy has gone, the next one runs.
    activated = false;
    TSingleInstance third(name);
    EXPECT_FALSE(third.Claim({}));
    ASSERT_TRUE(dmtest::WaitUntil([&] { return activated; }));
    EXPECT_TRUE(handed.isEmpty());
}

TEST(SingleInstance, SecondProgramExitsWithZero) {
    dmtest::TWindowFixture f(json::array({dmtest::Account("ann", "Demo Co", "1001")}));
    f.Settings(dmtest::Business("ann", "Demo Co", "1001"));
    const QStringList args{"-localtest", QString::fromStdString("-baseurl=" + f.app.BaseUrl),
                           QString::fromStdString("-storage=" + f.app.StorageFolder)};
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(DM_BIN_DIR "/invara-desktop-manager"), args);
    ASSERT_TRUE(first.waitForStarted());
    // The first copy is up once its guard answers.
    ASSERT_TRUE(dmtest::WaitUntil([&] {
        QLocalSocket probe;
        probe.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        probe.connectToServer(TSingleInstance::DefaultName());
        return probe.waitForConnected(100);
    }));

    QProcess second;
    second.start(QStringLiteral(DM_BIN_DIR "/invara-desktop-manager"), args);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running) << "the first copy goes on";

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(10000));
}
