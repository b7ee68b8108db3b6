#pragma once

// The settings file: the general options, the schedule and one record per biller, in
// StorageFolder + prefix + "invdesk.xml". It is always rewritten whole, but read first, so that
// elements this program does not know survive a save.

#include "core/KvXml.h"

#include <QDateTime>

#include <memory>
#include <string>
#include <vector>

namespace dm {

struct TAppState;
class TUserPrompts;

// The options kept in the settings file. AlternateConnection, UseDefaultProxy and NoLogs are
// application-wide flags; the rest belong to the main window.
struct TOptions {
    bool loginbrowser = true;
    bool disablesendinvoiceemailsalert = false;
    bool multiuser = false;
    bool AlternateConnection = false;
    bool UseDefaultProxy = true;
    bool NoLogs = false;
    bool autosync = false;
    int autosynchowoften = 0; // schedule interval index 1 to 11
    int autosynchour = 0;
    int autosyncminute = 0;
};

// One biller as stored; the fields carry the names of their elements.
struct BillerRecord {
    std::string type = "qbd"; // "qbd" or "ezi"
    std::string name;
    std::string id;
    std::string username;
    std::string password; // stored as "token"
    QDateTime lastsync;   // invalid: never synchronised
    int autosyncminutes = 30;
    bool smartsync = true;
    int smartsyncdelay = 0;
    std::string smartsyncfilepath;
    std::string smartsyncsource;
    std::string invoiceimportimportdirectory;
    int invoiceimportafterimporting = 0; // 0 nothing, 1 delete, 2 move
    std::string invoiceimportmovetodirectory;
    std::string invoiceimportexecuteafter;
    bool remembercppassword = false;
    bool autosync = false;
    bool paymentnotify = true;
    bool checkpayments = true;
};

class TSettingsStore {
public:
    TSettingsStore(TAppState& app, TUserPrompts& prompts);

    std::string Path() const;
    // The file's document, an empty one when there is no file, or null (after telling the user
    // and asking the application to terminate) when it cannot be read.
    std::unique_ptr<TKvXML> OpenSettingsDocument();

    struct TLoaded {
        std::vector<BillerRecord> billers;
        bool hadPlainPassword = false; // the file was saved again at once, with a token
    };
    // Reads the options (and, unless optionsOnly, the schedule and every biller).
    TLoaded LoadSettings(bool optionsOnly, TOptions& options);
    // False (after telling the user and asking to terminate) when the file cannot be written.
    bool SaveSettings(const TOptions& options, const std::vector<const BillerRecord*>& billers);

private:
    TAppState& app_;
    TUserPrompts& prompts_;
};

// How free texts are stored: unchanged unless they hold "<" or something that reads as an
// entity, in which case "&", ">" and "<" are escaped. Files of older versions, which hold bare
// ampersands, read back unchanged (DecodeXmlEntities).
std::string StoredText(std::string_view value);
std::string ReadStoredText(std::string_view stored);

} // namespace dm
