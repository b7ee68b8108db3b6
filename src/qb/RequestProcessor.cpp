#include "qb/RequestProcessor.h"

#include "core/General.h"
#include "qb/QbSimProcessor.h"

#include <mutex>

namespace dm {

namespace {

std::mutex factoryMutex;

TRequestProcessorFactory& InstalledFactory() {
    static TRequestProcessorFactory factory;
    return factory;
}

std::unique_ptr<TRequestProcessor> CreateBuiltIn(std::string_view progId) {
    // COM compares ProgIDs without regard to case.
    if (!EqualsNoCase(progId, kRequestProcessorProgId))
        throw TQbError("Invalid class string", qbhr::InvalidClassString);
    return std::make_unique<TQbSimRequestProcessor>(DefaultQuickBooksHome());
}

} // namespace

std::unique_ptr<TRequestProcessor> CreateRequestProcessor(std::string_view progId) {
    TRequestProcessorFactory factory;
    {
        std::lock_guard<std::mutex> lock(factoryMutex);
        factory = InstalledFactory();
    }
    return factory ? factory(progId) : CreateBuiltIn(progId);
}

TRequestProcessorFactory SetRequestProcessorFactory(TRequestProcessorFactory factory) {
    std::lock_guard<std::mutex> lock(factoryMutex);
    TRequestProcessorFactory previous = std::move(InstalledFactory());
    InstalledFactory() = std::move(factory);
    return previous;
}

void SetQuickBooksAuthPreferences(TRequestProcessor& processor) {
    TAuthPreferences& preferences = processor.AuthPreferences();
    preferences.PutAuthFlags(15);
    preferences.PutIsReadOnly(false);
    preferences.PutUnattendedModePref(1);
    preferences.PutPersonalDataPref(3);
}

} // namespace dm
