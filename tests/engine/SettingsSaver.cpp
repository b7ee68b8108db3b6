// Saves settings over and over, alternating two contents, until it is killed.

#include "engine/AppState.h"
#include "engine/Settings.h"
#include "engine/UserPrompts.h"

#include "ScriptedPrompts.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
struct Prompts : dmtest::TScriptedPrompts {
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::exit(2);
    }
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    dm::TAppState state;
    state.StorageFolder = argv[1];
    Prompts prompts;
    dm::TSettingsStore store(state, prompts);
    dm::TOptions options;
    dm::BillerRecord biller;
    biller.id = "1";
    biller.username = "u";
    // A long note makes each save take long enough to be interrupted in the middle.
    biller.invoiceimportexecuteafter = std::string(200000, 'x');
    biller.type = "ezi";
    for (unsigned i = 0;; ++i) {
        biller.name = (i % 2) ? "New" : "Old";
        store.SaveSettings(options, {&biller});
    }
}
