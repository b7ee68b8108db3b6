#pragma once

// The settings file: the general options, the schedule and one record per biller, in
// StorageFolder + prefix + "invdesk.xml". It is always rewritten whole, but read first, so that
// elements this program does not know survive a save.

#include "core/KvXml.h"

#include <QDateTime>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm {

struct TAppState;
class TUserPrompts;

// A biller's "autosyncminutes" when the file has none, or none above 0.
constexpr int DefaultAutoSyncMinutes = 30;

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
    bool operator==(const TOptions&) const = default;
};

// One biller as stored; the fields carry the names of their elements.
struct BillerRecord {
    std::string type = "qbd"; // "qbd" or "ezi"
    std::string name;
    std::string id;
    std::string username;
    std::string password; // stored as "token"
    QDateTime lastsync;   // invalid: never synchronised
    int autosyncminutes = DefaultAutoSyncMinutes;
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
    bool operator==(const BillerRecord&) const = default;
};

struct TLoadedSettings {
    std::vector<BillerRecord> billers;
    bool hadPlainPassword = false; // the file was saved again at once, with a token
};

// The reading and writing of the file's text, without the file. What each element holds, its
// default and its reading rule stand in one table in Settings.cpp.
//
// The document of a settings file's bytes, or null when the bytes are damaged: they do not
// parse to a closed document element, or would not read back the same once written (a save
// must never change what a file means).
std::unique_ptr<TKvXML> ParseSettingsText(std::string bytes);
// highFrequency is set by a stored interval of 7 or more.
void ReadSettingsOptions(const TKvXML& doc, bool optionsOnly, TOptions& options, bool& highFrequency);
TLoadedSettings ReadSettingsBillers(const TKvXML& doc);
// Replaces the document's options and biller list and returns the file's bytes.
std::string WriteSettingsText(TKvXML& doc, const TOptions& options, const std::vector<const BillerRecord*>& billers);

// What the user is told, once, about a settings file that could not be read.
std::string DamagedSettingsMessage(const std::string& path, const std::string& copy, bool backupUsed);

class TSettingsStore {
public:
    TSettingsStore(TAppState& app, TUserPrompts& prompts);

    std::string Path() const;
    // The last good copy: every successful save writes it too.
    std::string BackupPath() const { return Path() + ".bak"; }
    // The file's document, an empty one when there is no file, or null (after telling the user
    // and asking the application to terminate) when it cannot be read. A damaged file is first
    // kept as "<file>.damaged-DATE" and replaced by the last good copy when there is one; the
    // user is told once where the copy is.
    std::unique_ptr<TKvXML> OpenSettingsDocument();

    using TLoaded = TLoadedSettings;
    // Reads the options (and, unless optionsOnly, the schedule and every biller).
    TLoaded LoadSettings(bool optionsOnly, TOptions& options);
    // False (after telling the user and asking to terminate) when the file cannot be written.
    bool SaveSettings(const TOptions& options, const std::vector<const BillerRecord*>& billers);
    // The siblings that interrupted saves left behind (each holds the tokens).
    void RemoveStaleTemporaries() const;
    // After a failure the program is ending: later loads and saves do nothing, and say nothing.
    bool Failed() const { return failed_; }

private:
    std::unique_ptr<TKvXML> HandleDamagedFile(const std::string& bytes);

    TAppState& app_;
    TUserPrompts& prompts_;
    bool failed_ = false;
    // The bytes of the damaged file that was kept and could not be replaced: it reads as empty
    // from then on, so that the user is told once.
    std::optional<std::string> keptDamaged_;
};

// How free texts are stored: unchanged unless they hold "<" or something that reads as an
// entity, in which case "&", ">" and "<" are escaped. Files of older versions, which hold bare
// ampersands, read back unchanged (DecodeXmlEntities).
std::string StoredText(std::string_view value);
std::string ReadStoredText(std::string_view stored);

} // namespace dm
