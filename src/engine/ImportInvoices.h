#pragma once

// The session of a biller without QuickBooks: invoice files dropped into a folder by another
// program are sent to the service, which reads them while the agent polls; then the agent walks
// through the imported invoices, sending each one's PDF when the service asks for it. Uploaded
// files can be deleted or moved afterwards, and a program started once the import is complete.

#include "net/Web.h"

#include <QObject>
#include <QTimer>

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace dm {

class TSync;

// What happens to a file once its upload has completed ("invoiceimportafterimporting").
enum TAfterImporting : int { aiNothing = 0, aiDelete = 1, aiMove = 2 };

// The error texts an import session can end with.
inline constexpr const char* ImportLoginRefused = "User name and password are not correct.";
inline constexpr const char* ImportNoFiles = "No files to import found.";
inline constexpr const char* ImportNoFolder = "No invoice import folder is set. Choose one in the import options.";
inline constexpr const char* ImportNoMoveFolder =
    "No folder to move imported files to is set. Choose one in the import options.";
inline constexpr const char* ImportCommunicationFailed = "Unable to communicate with server.";

// The target of a moved file: the move-to folder + the file's path below the import folder.
// Empty when the file does not lie in the import folder.
std::string MovedFilePath(const std::string& path, const std::string& importFolder, const std::string& moveToFolder);

// A percentage from a fraction times a factor, rounded to the nearest integer, halves to the
// even neighbour.
int RoundedPercentage(double value);

class TImportInvoices : public QObject {
    Q_OBJECT
public:
    // The frame reports every status change and ends the session through FinishSync.
    explicit TImportInvoices(TSync& frame);
    ~TImportInvoices() override;

    // Filled by the frame from the biller's settings before Start.
    std::string ImportDirectory;
    std::string MoveToDirectory;
    int AfterImporting = aiNothing;
    std::string ExecuteAfter;
    std::string UserName;
    std::string Password;

    void Start();
    // The session is over: no timer fires and no answer is heard any more. The frame destroys
    // the run afterwards (later, when a handler of the run itself ended the session).
    void Stop();

    QTimer tmrUploadImportFile;
    QTimer tmrReadImportStatusUpdate;
    QTimer tmrProcessNextInvoice;

private:
    // Identity of a file when its upload starts: a file replaced, rewritten or removed before
    // the upload has completed was not sent as it is now.
    struct TFileStamp {
        bool Exists = false;
        dev_t Device = 0;
        ino_t Inode = 0;
        std::int64_t Size = -1;
        timespec Modified{};
        bool operator==(const TFileStamp& other) const;
    };
    static TFileStamp StampOf(const std::string& path);

    using TDoneHandler = void (TImportInvoices::*)(const std::string& answer);
    void Post(const std::string& operation, TDoneHandler onDone, bool isStart = false);
    void Answer(WebStatus status, const std::string& text, std::int32_t value, TDoneHandler onDone, bool isStart);

    void StartReply(const std::string& answer);
    void tmrUploadImportFileTimer();
    void UploadInvoiceFile(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void ReadFiles();
    void ReadFilesReply(const std::string& answer);
    void tmrReadImportStatusUpdateTimer();
    void ProgressReply(const std::string& answer);
    void tmrProcessNextInvoiceTimer();
    void InvoiceReply(const std::string& answer);
    void UploadPdf(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void ProcessInvoice(const std::string& extra);
    void Finished();

    void BeginUpload(const std::string& path, void (TImportInvoices::*handler)(std::int32_t, WebStatus,
                                                                                const std::string&, std::int32_t));
    // False (and the session ended) when the file is not the one whose upload began.
    bool UploadIntact();
    void AfterImport(const std::string& path);
    // The after-import action of the files the service has taken over.
    void ApplyAfterImport();
    void SetStatus(const std::string& detail);
    void SetPercentage(int percentage);
    void Fail(const std::string& errorText, const std::string& details = {});
    void Log(const std::string& message, const std::string& details = {});

    TSync& frame_;
    std::unique_ptr<TWebOwner> web_; // gone once the session is over
    bool stopped_ = false;

    std::string importId_;
    std::vector<std::string> filesToSend_;
    std::vector<std::string> filesSent_; // path + "=" + upload id, in upload order
    std::string currentFile_;
    // Uploaded, but moved or deleted only once the service has accepted them (a failed read
    // files or process request must not lose them).
    std::vector<std::string> pendingAfterImport_;
    TFileStamp currentStamp_;
    std::int64_t totalSize_ = 0;
    std::int64_t bytesSent_ = 0;
    std::string invoiceId_;
    std::string invoiceNumber_;
    int referenceCount_ = 0;
    bool resumed_ = false;
    bool loginRefused_ = false;
    int httpStatus_ = 0;
    int polls_ = 0;
    int resumes_ = 0;
};

} // namespace dm
