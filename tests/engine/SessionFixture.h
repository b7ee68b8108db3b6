#pragma once

// The engine against the real local service over loopback and the real QuickBooks stand-in.

#include "engine/AppState.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "net/Web.h"

#include "EventLoop.h"
#include "ScriptedPrompts.h"
#include "TestCerts.h"
#include "TestService.h"
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>

namespace dmtest {

using nlohmann::json;
using namespace dm;
namespace fs = std::filesystem;

inline json Account(const std::string& user = "demo", const std::string& name = "Demo Co", const std::string& id = "1001") {
    return {{"user", user}, {"password", "demo"}, {"name", name}, {"id", id}};
}

struct SessionFixture {
    dmtest::TempDir dir;
    std::unique_ptr<TTestService> service;
    TAppState app;
    dmtest::TScriptedPrompts prompts;
    std::unique_ptr<TMainEngine> engine;
    int finished = 0;

    // tls: the service speaks HTTPS with a certificate of the test authority, which the
    // transport is told to trust.
    explicit SessionFixture(json faults = json::array(), json accounts = json::array({Account()}),
                            json extra = json::object(), const TTestCerts* tls = nullptr) {
        fs::create_directories(dir.Path() / "qb");
        fs::create_directories(dir.Path() / "store");
        setenv("INVARA_QB_HOME", (dir.Path() / "qb").c_str(), 1);
        Qb({"demo"});
        json scenario = {{"accounts", accounts}, {"faults", faults}};
        scenario.update(extra);
        service = std::make_unique<TTestService>(ScenarioFromJson(scenario));
        if (tls) {
            service->UseTls(tls->CertFile, tls->KeyFile);
            savedWebOptions = WebOptions();
            TWebOptions trusting = WebOptions();
            trusting.CaFile = tls->CaFile;
            SetWebOptions(trusting);
        }
        int port = service->Start("127.0.0.1", 0);
        EXPECT_GT(port, 0);
        app.BaseUrl = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + "/";
        ComposeUrls(app);
        app.StorageFolder = dir.Folder() + "store/";
        app.VersionText = "1.0.0";
        app.BuildNumber = "1";
        engine = std::make_unique<TMainEngine>(app, prompts);
        QObject::connect(engine.get(), &TMainEngine::sessionFinished, [this](TSync*) { ++finished; });
    }
    ~SessionFixture() {
        engine.reset();
        service->Stop();
        if (savedWebOptions) SetWebOptions(*savedWebOptions);
    }
    std::optional<TWebOptions> savedWebOptions;

    // Drives the stand-in's command line, as a user at QuickBooks would.
    void Qb(const QStringList& args) {
        QStringList all{"--home", QString::fromStdString((dir.Path() / "qb").string())};
        all << args;
        ASSERT_EQ(QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"), all), 0) << args.join(' ').toStdString();
    }

    TSync* Biller(const std::string& user = "demo", const std::string& name = "Demo Co", const std::string& id = "1001") {
        BillerRecord r;
        r.name = name;
        r.id = id;
        r.username = user;
        r.password = "demo";
        TSync* frame = engine->AddBiller(r);
        // The account confirmation runs first, as in the program.
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !frame->Confirming; }));
        return frame;
    }

    // Presses Sync and waits for the session and its follow-ups to end.
    bool Sync(TSync* frame, int sessions = 1) {
        int target = finished + sessions;
        frame->btnSyncNowClick(true);
        return dmtest::WaitUntil([&] { return finished >= target && !engine->SyncInProgress(); },
                                 std::chrono::seconds(30));
    }

    json Requests() {
        if (!savedWebOptions) {
            httplib::Client client("127.0.0.1", service->Port());
            auto r = client.Get("/_test/requests");
            return r ? json::parse(r->body) : json::array();
        }
        httplib::SSLClient client("127.0.0.1", service->Port());
        client.set_ca_cert_path(WebOptions().CaFile.c_str());
        auto r = client.Get("/_test/requests");
        return r ? json::parse(r->body) : json::array();
    }
    // The SOAP operations the sync endpoint received, in order.
    std::vector<std::string> Operations() {
        std::vector<std::string> ops;
        for (const json& r : Requests()) {
            std::string path = r.value("path", "");
            if (path.size() >= 26 && path.compare(path.size() - 26, 26, "webservices/quickbooks.php") == 0) {
                std::string body = r.value("body", "");
                for (const char* op : {"authenticate", "sendRequestXML", "receiveResponseXML", "closeConnection", "reportError"})
                    if (body.find(std::string("<") + op + " ") != std::string::npos) ops.push_back(op);
            }
        }
        return ops;
    }
    std::vector<json> Posts(const std::string& endpoint) {
        std::vector<json> out;
        for (const json& r : Requests()) {
            std::string path = r.value("path", "");
            if (path.size() >= endpoint.size() && path.compare(path.size() - endpoint.size(), endpoint.size(), endpoint) == 0)
                out.push_back(r);
        }
        return out;
    }
    std::string Log() { return dmtest::ReadFileBytes(dir.Path() / "store" / "log.txt"); }
};

} // namespace dmtest
