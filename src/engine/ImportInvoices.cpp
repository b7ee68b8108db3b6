#include "engine/ImportInvoices.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/BillerRequest.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "net/Upload.h"
#include "platform/System.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace dm {

namespace {

namespace fs = std::filesystem;

// A service that kept the progress below "done" or resumed import after import would keep the
// session (and a headless run) going for ever. An hour of polling is far beyond any real import.
constexpr int MaxProgressPolls = 7200;
constexpr int MaxResumes = 10;

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string UnexpectedAnswer(const char* what) { return std::string("Unexpected answer from the server (") + what + ")."; }

} // namespace

std::string MovedFilePath(const std::string& path, const std::string& importFolder, const std::string& moveToFolder) {
    if (importFolder.empty() || moveToFolder.empty() || path.compare(0, importFolder.size(), importFolder) != 0)
        return {};
    return moveToFolder + path.substr(importFolder.size());
}

int RoundedPercentage(double value) {
    // nearbyint rounds in the current mode, which is to nearest with halves to even.
    return static_cast<int>(std::clamp(std::nearbyint(value), 0.0, 100.0));
}

bool TImportInvoices::TFileStamp::operator==(const TFileStamp& o) const {
    return Exists == o.Exists && Device == o.Device && Inode == o.Inode && Size == o.Size &&
           Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec;
}

TImportInvoices::TFileStamp TImportInvoices::StampOf(const std::string& path) {
    TFileStamp stamp;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = static_cast<std::int64_t>(st.st_size);
    stamp.Modified = st.st_mtim;
    return stamp;
}

TImportInvoices::TImportInvoices(TSync& frame) : QObject(&frame), frame_(frame), web_(std::make_unique<TWebOwner>()) {
    tmrUploadImportFile.setInterval(1);
    tmrReadImportStatusUpdate.setInterval(500);
    tmrProcessNextInvoice.setInterval(1);
    connect(&tmrUploadImportFile, &QTimer::timeout, this, &TImportInvoices::tmrUploadImportFileTimer);
    connect(&tmrReadImportStatusUpdate, &QTimer::timeout, this, &TImportInvoices::tmrReadImportStatusUpdateTimer);
    connect(&tmrProcessNextInvoice, &QTimer::timeout, this, &TImportInvoices::tmrProcessNextInvoiceTimer);
}

TImportInvoices::~TImportInvoices() = default;

void TImportInvoices::Stop() {
    stopped_ = true;
    tmrUploadImportFile.stop();
    tmrReadImportStatusUpdate.stop();
    tmrProcessNextInvoice.stop();
    web_.reset();
    filesToSend_.clear();
    filesSent_.clear();
    pendingAfterImport_.clear();
}

void TImportInvoices::Log(const std::string& message, const std::string& details) {
    frame_.Engine().LogLine(message, details);
}

void TImportInvoices::SetStatus(const std::string& detail) {
    frame_.StatusDetail = detail;
    Log(detail);
    frame_.Repaint();
}

void TImportInvoices::SetPercentage(int percentage) {
    if (frame_.Percentage == percentage) return;
    frame_.Percentage = percentage;
    frame_.Repaint();
}

void TImportInvoices::Fail(const std::string& errorText, const std::string& details) {
    frame_.HadErrors = true;
    frame_.ErrorText = errorText;
    Log(errorText, details);
    // Ends the session and lets this run go: nothing of it may be touched afterwards.
    frame_.FinishSync();
}

void TImportInvoices::Start() {
    if (TrimBlanks(ImportDirectory).empty()) return Fail(ImportNoFolder);
    ImportDirectory = WithSlash(ImportDirectory);
    MoveToDirectory = WithSlash(MoveToDirectory);
    // Without a folder the target would be relative to whatever the working folder is.
    if (AfterImporting == aiMove && MoveToDirectory.empty()) return Fail(ImportNoMoveFolder);
    loginRefused_ = false;
    filesToSend_.clear();
    filesSent_.clear();
    pendingAfterImport_.clear();
    // A resumed import's count would skew the new import's progress.
    referenceCount_ = 0;
    polls_ = 0;
    Post("<invoiceimportstart><dm><build>" + frame_.Engine().App.BuildNumber + "</build></dm></invoiceimportstart>",
         &TImportInvoices::StartReply, true);
}

void TImportInvoices::Post(const std::string& operation, TDoneHandler onDone, bool isStart) {
    httpStatus_ = 0;
    WebPostXml(
        frame_.Engine().App.ServiceUrl, BillerRequestEnvelope(UserName, Password, operation),
        [this, onDone, isStart](std::int32_t, WebStatus status, const std::string& text, std::int32_t value) {
            Answer(status, text, value, onDone, isStart);
        },
        TWebOwnerRef(web_.get()));
}

void TImportInvoices::Answer(WebStatus status, const std::string& text, std::int32_t value, TDoneHandler onDone,
                             bool isStart) {
    if (stopped_) return;
    TBusyGuard busy(frame_);
    switch (status) {
    case wsStatusCode:
        httpStatus_ = value;
        if (isStart && value == 403) loginRefused_ = true;
        return;
    case wsFailed:
        frame_.Engine().LogWebFailure(frame_.Biller.id);
        return Fail(ImportCommunicationFailed, "Web response - Failed: Error #" + std::to_string(value));
    case wsDone: break;
    default: return;
    }
    if (loginRefused_ || httpStatus_ == 403) return Fail(ImportLoginRefused);
    if (httpStatus_ != 200)
        return Fail(ImportCommunicationFailed,
                    "Web response - Status code: " + std::to_string(httpStatus_) + "\r\n" + TextHead(text));
    (this->*onDone)(text);
}

void TImportInvoices::StartReply(const std::string& answer) {
    resumed_ = false;
    TKvXML doc;
    doc.Silent = true;
    doc.Parse(answer);
    const TKvXMLElement* start = doc.Root() ? doc.Root()->FindPath("biller/invoiceimportstart") : nullptr;
    if (start && start->PathText("start") == "1") {
        const TKvXMLElement* patternElement = start->FindChild("importfilenamepattern");
        const std::string pattern = patternElement ? DecodeXmlEntities(patternElement->Text()) : std::string();
        if (pattern.empty()) return Fail(UnexpectedAnswer("no file name pattern for the import"), TextHead(answer));
        std::vector<std::string> found;
        if (!ListFiles(ImportDirectory, pattern, found))
            return Fail("The invoice import folder " + ImportDirectory + " cannot be read.");
        bytesSent_ = 0;
        if (found.empty()) return Fail(ImportNoFiles);
        totalSize_ = 0;
        for (const std::string& file : found) totalSize_ += std::max<std::int64_t>(0, FileSizeOf(file));
        filesToSend_ = std::move(found);
        SetStatus(filesToSend_.size() == 1 ? std::string("Sending 1 file... ")
                                           : "Sending " + std::to_string(filesToSend_.size()) + " files...");
        tmrUploadImportFile.start();
    } else if (start && start->PathText("resume") == "1") {
        resumed_ = true;
        SetStatus("Resuming invoice import...");
        importId_ = start->PathText("importid");
        if (importId_.empty()) return Fail(UnexpectedAnswer("no import id to resume"), TextHead(answer));
        tmrProcessNextInvoice.start();
    } else if (const TKvXMLElement* message = start ? start->FindChild("message") : nullptr) {
        // The service refused the import: the session did not do its work.
        const std::string text = DecodeXmlEntities(message->Text());
        frame_.HadErrors = true;
        frame_.ErrorText = text;
        Log(text);
        frame_.Engine().Prompts.ShowMessage(text);
        if (stopped_ || frame_.RemovePending) return;
        frame_.FinishSync();
    } else {
        Fail(UnexpectedAnswer("no start, resume or message"), TextHead(answer));
    }
}

void TImportInvoices::BeginUpload(const std::string& path,
                                  void (TImportInvoices::*handler)(std::int32_t, WebStatus, const std::string&,
                                                                   std::int32_t)) {
    currentFile_ = path;
    currentStamp_ = StampOf(path);
    const TAppState& app = frame_.Engine().App;
    StartUpload(path, app.ServiceUrl, app.UploaderUrl, WebHandler(this, handler), TWebOwnerRef(web_.get()));
}

bool TImportInvoices::UploadIntact() {
    const TFileStamp now = StampOf(currentFile_);
    if (!now.Exists) {
        Fail("The file " + currentFile_ + " disappeared while it was being sent.");
        return false;
    }
    if (!(now == currentStamp_) || !currentStamp_.Exists) {
        Fail("The file " + currentFile_ + " changed while it was being sent.");
        return false;
    }
    return true;
}

void TImportInvoices::tmrUploadImportFileTimer() {
    tmrUploadImportFile.stop();
    if (stopped_) return;
    TBusyGuard busy(frame_);
    if (filesToSend_.empty()) return ReadFiles();
    std::string path = filesToSend_.front();
    filesToSend_.erase(filesToSend_.begin());
    BeginUpload(path, &TImportInvoices::UploadInvoiceFile);
    if (stopped_) return; // the upload could not even be sent
    const size_t left = filesToSend_.size(), sent = filesSent_.size();
    SetStatus(left == 0 && sent == 0 ? std::string("Sending file...")
                                     : "Sending file " + std::to_string(sent + 1) + " of " +
                                           std::to_string(left + sent + 1) + "...");
}

void TImportInvoices::UploadInvoiceFile(std::int32_t, WebStatus status, const std::string& text, std::int32_t value) {
    if (stopped_) return;
    TBusyGuard busy(frame_);
    switch (status) {
    case wsProgress:
        bytesSent_ += value;
        if (totalSize_ > 0) SetPercentage(RoundedPercentage(static_cast<double>(bytesSent_) / totalSize_ * 10));
        return;
    case wsFailed:
        if (!UploadIntact()) return;
        return Fail("Unable to send the file " + currentFile_ + ".", text);
    case wsDone:
        if (!UploadIntact()) return;
        filesSent_.push_back(currentFile_ + "=" + text);
        pendingAfterImport_.push_back(currentFile_);
        tmrUploadImportFile.start();
        return;
    default: return;
    }
}

void TImportInvoices::ReadFiles() {
    SetPercentage(10);
    SetStatus("Reading import...");
    std::string operation = "<invoiceimportreadfiles>";
    for (const std::string& entry : filesSent_) {
        const size_t eq = entry.find('=');
        operation += "<file><filename>";
        AppendHtmlEscaped(operation, std::string_view(entry).substr(0, eq));
        operation += "</filename><uploadid>" + entry.substr(eq + 1) + "</uploadid></file>";
    }
    operation += "</invoiceimportreadfiles>";
    Post(operation, &TImportInvoices::ReadFilesReply);
}

void TImportInvoices::ApplyAfterImport() {
    for (const std::string& path : pendingAfterImport_) AfterImport(path);
    pendingAfterImport_.clear();
}

void TImportInvoices::ReadFilesReply(const std::string& answer) {
    TKvXML doc;
    doc.Silent = true;
    doc.Parse(answer);
    importId_ = doc.Root() ? doc.Root()->PathText("biller/invoiceimportreadfiles/importid") : std::string();
    if (importId_.empty()) return Fail(UnexpectedAnswer("no import id"), TextHead(answer));
    // The service holds the files now, in an import it can resume.
    ApplyAfterImport();
    tmrReadImportStatusUpdate.start();
}

void TImportInvoices::tmrReadImportStatusUpdateTimer() {
    tmrReadImportStatusUpdate.stop();
    if (stopped_) return;
    Post("<invoiceimportreadfilesprogress><importid>" + importId_ + "</importid></invoiceimportreadfilesprogress>",
         &TImportInvoices::ProgressReply);
}

void TImportInvoices::ProgressReply(const std::string& answer) {
    TKvXML doc;
    doc.Silent = true;
    doc.Parse(answer);
    const TKvXMLElement* progress =
        doc.Root() ? doc.Root()->FindPath("biller/invoiceimportreadfilesprogress") : nullptr;
    if (!progress) return Fail(UnexpectedAnswer("no read progress"), TextHead(answer));
    const int percent = std::clamp(ParseInteger(progress->PathText("percent")).value_or(0), 0, 100);
    SetPercentage(RoundedPercentage(percent * 0.4 + 10));
    if (progress->PathText("done") == "1") {
        tmrProcessNextInvoice.start();
        return;
    }
    if (++polls_ > MaxProgressPolls) return Fail("The server did not finish reading the import.");
    tmrReadImportStatusUpdate.start();
}

void TImportInvoices::tmrProcessNextInvoiceTimer() {
    tmrProcessNextInvoice.stop();
    if (stopped_) return;
    Post("<invoiceimportnextinvoice><importid>" + importId_ + "</importid></invoiceimportnextinvoice>",
         &TImportInvoices::InvoiceReply);
}

void TImportInvoices::ProcessInvoice(const std::string& extra) {
    Post("<invoiceimportprocess><importid>" + importId_ + "</importid><invoiceid>" + invoiceId_ + "</invoiceid>" +
             extra + "</invoiceimportprocess>",
         &TImportInvoices::InvoiceReply);
}

void TImportInvoices::InvoiceReply(const std::string& answer) {
    TKvXML doc;
    doc.Silent = true;
    doc.Parse(answer);
    const TKvXMLElement* root = doc.Root();
    const TKvXMLElement* reply = root ? root->FindPath("biller/invoiceimportnextinvoice") : nullptr;
    if (!reply && root) reply = root->FindPath("biller/invoiceimportprocess");
    // An answer that is not an invoice reply must not read as a finished import.
    if (!reply) return Fail(UnexpectedAnswer("no invoice reply"), TextHead(answer));
    // The PDF of the invoice just processed is the service's now.
    ApplyAfterImport();
    const TKvXMLElement* done = reply->FindChild("done");
    if (!done || done->Text() != "0") return Finished();

    const std::string filter = DecodeXmlEntities(reply->PathText("pdffilefilter"));
    invoiceId_ = reply->PathText("invoice/id");
    invoiceNumber_ = DecodeXmlEntities(reply->PathText("invoice/number"));
    if (invoiceId_.empty()) return Fail(UnexpectedAnswer("an invoice without an id"), TextHead(answer));
    const int remaining = ParseInteger(reply->PathText("remaining")).value_or(0);
    if (referenceCount_ == 0) referenceCount_ = remaining;
    const int p = referenceCount_ > 0
                      ? RoundedPercentage(static_cast<double>(referenceCount_ - remaining) / referenceCount_ * 100)
                      : 0;
    SetPercentage(RoundedPercentage(p * 0.5 + 50));

    if (filter.empty()) {
        SetStatus("Importing invoice " + invoiceNumber_ + "...");
        return ProcessInvoice({});
    }
    std::vector<std::string> pdfs;
    ListFiles(ImportDirectory, filter, pdfs);
    if (pdfs.size() == 1) {
        SetStatus("Importing invoice " + invoiceNumber_ + "...");
        BeginUpload(pdfs.front(), &TImportInvoices::UploadPdf);
        return;
    }
    // None, or more than one to choose from: the service is told rather than guessed for.
    SetStatus("Unable to find PDF for invoice " + invoiceNumber_ + "...");
    ProcessInvoice("<pdfmissing>1</pdfmissing>");
}

void TImportInvoices::UploadPdf(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (stopped_) return;
    TBusyGuard busy(frame_);
    if (status == wsFailed) {
        if (!UploadIntact()) return;
        return Fail("Unable to send the file " + currentFile_ + ".", text);
    }
    if (status != wsDone) return;
    if (!UploadIntact()) return;
    pendingAfterImport_.push_back(currentFile_);
    ProcessInvoice("<uploadid>" + text + "</uploadid>");
}

void TImportInvoices::Finished() {
    if (resumed_) {
        // The open import is complete; new files may be waiting.
        if (++resumes_ > MaxResumes) return Fail("The server kept resuming invoice imports.");
        return Start();
    }
    if (!ExecuteAfter.empty()) {
        if (ShellFileKind(ExecuteAfter) == TFileKind::Missing)
            Log("The program to run after the import was not found.", ExecuteAfter);
        else if (!ShellOpen(ExecuteAfter, frame_.Engine().App.StorageFolder))
            Log("The program to run after the import could not be started.", ExecuteAfter);
    }
    SetStatus("Done.");
    SetPercentage(100);
    frame_.CloseReceived = true;
    frame_.FinishSync();
}

void TImportInvoices::AfterImport(const std::string& path) {
    std::error_code ec;
    if (AfterImporting == aiDelete) {
        if (!fs::remove(path, ec) || ec) Log("The imported file could not be deleted.", path);
        return;
    }
    if (AfterImporting != aiMove) return;
    const std::string target = MovedFilePath(path, ImportDirectory, MoveToDirectory);
    if (target.empty() || fs::equivalent(path, target, ec)) {
        Log("The imported file was left where it is.", path);
        return;
    }
    fs::create_directories(fs::path(target).parent_path(), ec);
    // An older file of the same name is replaced; a folder of that name is not touched.
    if (!fs::is_directory(fs::symlink_status(target, ec))) fs::remove(target, ec);
    ec.clear();
    fs::rename(path, target, ec);
    if (ec == std::errc::cross_device_link) {
        ec.clear();
        if (fs::copy_file(path, target, fs::copy_options::overwrite_existing, ec) && !ec) fs::remove(path, ec);
    }
    if (ec) Log("The imported file could not be moved.", path + " -> " + target + ": " + ec.message());
}

} // namespace dm
