// Any bytes as a settings file: reading never crashes, and what is read survives a save
// unchanged (load -> save -> load gives the same options and billers, and the second save
// writes the same bytes as the first).

#include "core/KvXml.h"
#include "engine/Settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TRead {
    dm::TOptions options;
    dm::TLoadedSettings loaded;
};

TRead Read(const dm::TKvXML& doc) {
    TRead r;
    bool highFrequency = false;
    dm::ReadSettingsOptions(doc, false, r.options, highFrequency);
    r.loaded = dm::ReadSettingsBillers(doc);
    return r;
}

std::string Write(dm::TKvXML& doc, const TRead& r) {
    std::vector<const dm::BillerRecord*> billers;
    for (const dm::BillerRecord& b : r.loaded.billers) billers.push_back(&b);
    return dm::WriteSettingsText(doc, r.options, billers);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One fixed regional format and no daylight-saving gaps, as on the user's machine between
    // two saves.
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Most inputs get the start of a real file, so that the fuzzer spends its time inside it.
    if (size && (data[0] & 3) != 0) text = "<?xml version=\"1.0\"?><mvt>" + text.substr(1);

    std::unique_ptr<dm::TKvXML> doc = dm::ParseSettingsText(text);
    if (!doc) return 0;
    TRead first = Read(*doc);
    std::string saved = Write(*doc, first);

    std::unique_ptr<dm::TKvXML> again = dm::ParseSettingsText(saved);
    if (!again) std::abort(); // a file of our own making must read back
    TRead second = Read(*again);
    if (!(second.options == first.options) || second.loaded.billers != first.loaded.billers) std::abort();
    if (Write(*again, second) != saved) std::abort();
    return 0;
}
