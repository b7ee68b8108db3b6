#include "qb/QbSession.h"

namespace dm {

void TQbSession::Open() {
    if (!processor_) processor_ = CreateRequestProcessor(kRequestProcessorProgId);
    processor_->OpenConnection("", std::string(kQbApplicationName));
    connected_ = true;
    SetQuickBooksAuthPreferences(*processor_);
}

void TQbSession::Begin(const std::string& path, int mode) {
    ticket_ = Processor().BeginSession(path, mode);
}

TRequestProcessor& TQbSession::Processor() {
    if (!processor_ || !connected_) throw TQbError("QuickBooks is not connected.");
    return *processor_;
}

void TQbSession::Close(bool keepProcessor) noexcept {
    if (processor_) {
        if (!ticket_.empty()) {
            try {
                processor_->EndSession(ticket_);
            } catch (...) {
            }
        }
        if (connected_) {
            try {
                processor_->CloseConnection();
            } catch (...) {
            }
        }
    }
    ticket_.clear();
    connected_ = false;
    if (!keepProcessor) processor_.reset();
}

} // namespace dm
