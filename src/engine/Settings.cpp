#include "engine/Settings.h"

#include "core/General.h"
#include "engine/AppState.h"
#include "engine/UserPrompts.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace dm {

namespace {

const char* Flag(bool on) { return on ? "1" : "0"; }

bool IsBlankText(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32) return false;
    return true;
}

// What the file's form would change, written as character references in an escaped text:
// files are CR LF lines, so a lone CR or LF would become a pair, and a text of blanks alone
// would read back empty.
std::string ProtectWhitespace(std::string_view escaped) {
    auto reference = [](char c) { return "&#" + std::to_string(static_cast<unsigned char>(c)) + ";"; };
    std::string out;
    if (!escaped.empty() && IsBlankText(escaped) && escaped.find('\0') == std::string_view::npos) {
        for (char c : escaped) out += reference(c);
        return out;
    }
    for (size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c == '\r' && i + 1 < escaped.size() && escaped[i + 1] == '\n') {
            out += "\r\n";
            ++i;
        } else if (c == '\r' || c == '\n') {
            out += reference(c);
        } else {
            out += c;
        }
    }
    return out;
}

// The never-synchronised value is written as the zero date of the format the file came from.
const QDateTime ZeroDate(QDate(1899, 12, 30), QTime(0, 0));

// --- The reading rules ----------------------------------------------------------------------
//
// An element that is absent leaves its field as it is: the defaults are the fields' own
// initial values (BillerRecord, TOptions) or the resets of the options table.

template <typename R, bool R::*F>
void ReadFlag(R& r, const TKvXMLElement& e) {
    r.*F = e.Text() == "1";
}
template <typename R, bool R::*F>
std::string WriteFlag(const R& r) {
    return Flag(r.*F);
}

// A decimal integer within its range; anything else (not a number, or a stored value that
// would freeze or overflow what uses it) gives the fallback.
template <typename R, int R::*F, int Fallback, int Min, int Max>
void ReadInteger(R& r, const TKvXMLElement& e) {
    std::optional<int> value = ParseInteger(e.Text());
    r.*F = value && *value >= Min && *value <= Max ? *value : Fallback;
}
template <typename R, int R::*F>
std::string WriteInteger(const R& r) {
    return std::to_string(r.*F);
}

// On only for the integer 1 ("01" counts, "yes" does not).
template <bool BillerRecord::*F>
void ReadIntegerOne(BillerRecord& r, const TKvXMLElement& e) {
    r.*F = ParseInteger(e.Text()) == 1;
}

template <std::string BillerRecord::*F>
void ReadText(BillerRecord& r, const TKvXMLElement& e) {
    r.*F = ReadStoredText(e.Text());
}
template <std::string BillerRecord::*F>
std::string WriteText(const BillerRecord& r) {
    return StoredText(r.*F);
}

// The two smart-sync texts are always entity-escaped.
template <std::string BillerRecord::*F>
void ReadEscaped(BillerRecord& r, const TKvXMLElement& e) {
    r.*F = HtmlUnescape(e.Text());
}
template <std::string BillerRecord::*F>
std::string WriteEscaped(const BillerRecord& r) {
    return ProtectWhitespace(HtmlEscape(r.*F));
}

// A token that is not valid hexadecimal gives no password; the account confirmation then
// asks for it.
void ReadToken(BillerRecord& r, const TKvXMLElement& e) { r.password = DecodeToken(e.Text()); }
std::string WriteToken(const BillerRecord& r) { return EncodeToken(r.password); }

// A text that does not read back (another regional format) counts as never synchronised. The
// file holds whole seconds.
void ReadLastSync(BillerRecord& r, const TKvXMLElement& e) {
    std::optional<QDateTime> when = ParseDateTimeText(e.Text());
    if (when) {
        const QTime t = when->time();
        when->setTime(QTime(t.hour(), t.minute(), t.second()));
    }
    // A time the file's own format cannot hold (a year it cannot write) would change at the
    // next save: it counts as never synchronised now rather than as another time later.
    if (!when || *when == ZeroDate || ParseDateTimeText(DateTimeText(*when)) != when) {
        r.lastsync = {};
        return;
    }
    r.lastsync = *when;
}
std::string WriteLastSync(const BillerRecord& r) { return DateTimeText(r.lastsync.isValid() ? r.lastsync : ZeroDate); }

// --- The tables -----------------------------------------------------------------------------

// Which billers carry an element; read in table order, so a condition only looks at fields
// of earlier rows.
enum class TBillers { All, Ezi, SmartSyncOn, MovedImports };

bool Carries(TBillers which, const BillerRecord& r) {
    switch (which) {
    case TBillers::All: return true;
    case TBillers::Ezi: return r.type == "ezi";
    case TBillers::SmartSyncOn: return r.smartsync;
    case TBillers::MovedImports: return r.type == "ezi" && r.invoiceimportafterimporting == 2;
    }
    return false;
}

struct TBillerSetting {
    const char* Element;
    TBillers Which;
    void (*Read)(BillerRecord&, const TKvXMLElement&); // null: never read
    std::string (*Write)(const BillerRecord&);
};

using B = BillerRecord;
constexpr const char* TokenElement = "token";

// In the order the file holds them.
const TBillerSetting BillerSettings[] = {
    {"type", TBillers::All, ReadText<&B::type>, WriteText<&B::type>},
    {"name", TBillers::All, ReadText<&B::name>, WriteText<&B::name>},
    {"id", TBillers::All, ReadText<&B::id>, WriteText<&B::id>},
    {"username", TBillers::All, ReadText<&B::username>, WriteText<&B::username>},
    {TokenElement, TBillers::All, ReadToken, WriteToken},
    {"lastsync", TBillers::All, ReadLastSync, WriteLastSync},
    {"autosyncminutes", TBillers::All, ReadInteger<B, &B::autosyncminutes, DefaultAutoSyncMinutes, 1, INT_MAX>,
     WriteInteger<B, &B::autosyncminutes>},
    {"smartsync", TBillers::All, ReadFlag<B, &B::smartsync>, WriteFlag<B, &B::smartsync>},
    {"smartsyncdelay", TBillers::SmartSyncOn, ReadInteger<B, &B::smartsyncdelay, 1, INT_MIN, INT_MAX>,
     WriteInteger<B, &B::smartsyncdelay>},
    {"smartsyncfilepath", TBillers::SmartSyncOn, ReadEscaped<&B::smartsyncfilepath>, WriteEscaped<&B::smartsyncfilepath>},
    {"smartsyncsource", TBillers::SmartSyncOn, ReadEscaped<&B::smartsyncsource>, WriteEscaped<&B::smartsyncsource>},
    {"invoiceimportimportdirectory", TBillers::Ezi, ReadText<&B::invoiceimportimportdirectory>,
     WriteText<&B::invoiceimportimportdirectory>},
    {"invoiceimportafterimporting", TBillers::Ezi, ReadInteger<B, &B::invoiceimportafterimporting, 0, INT_MIN, INT_MAX>,
     WriteInteger<B, &B::invoiceimportafterimporting>},
    {"invoiceimportmovetodirectory", TBillers::MovedImports, ReadText<&B::invoiceimportmovetodirectory>,
     WriteText<&B::invoiceimportmovetodirectory>},
    {"invoiceimportexecuteafter", TBillers::Ezi, ReadText<&B::invoiceimportexecuteafter>,
     WriteText<&B::invoiceimportexecuteafter>},
    {"remembercppassword", TBillers::All, ReadIntegerOne<&B::remembercppassword>, WriteFlag<B, &B::remembercppassword>},
    {"autosync", TBillers::All, ReadFlag<B, &B::autosync>, WriteFlag<B, &B::autosync>},
    // Written for older versions; "paymentnotify" is what counts.
    {"paymentnotifications", TBillers::All, nullptr, WriteFlag<B, &B::paymentnotify>},
    {"paymentnotify", TBillers::All, ReadFlag<B, &B::paymentnotify>, WriteFlag<B, &B::paymentnotify>},
    {"checkpayments", TBillers::All, ReadFlag<B, &B::checkpayments>, WriteFlag<B, &B::checkpayments>},
};

// Which loads read an option: both, or only the full one (the schedule); the schedule's three
// values only while "autosync" is on.
enum class TLoads { Both, Full, FullWhenAutoSync };

struct TOptionSetting {
    const char* Element;
    TLoads Loads;
    // The value before the element is looked at: null keeps the value. Applied by every load
    // when always is set, else only by loads that find an "options" element.
    void (*Reset)(TOptions&);
    bool ResetAlways;
    void (*Read)(TOptions&, const TKvXMLElement&); // null: never read
    std::string (*Write)(const TOptions&);
};

using O = TOptions;

template <int O::*F>
void ResetZero(O& o) {
    o.*F = 0;
}
// Written as "0" while the schedule is off.
template <int O::*F>
std::string WriteSchedule(const O& o) {
    return o.autosync ? std::to_string(o.*F) : "0";
}

const TOptionSetting OptionSettings[] = {
    {"loginbrowser", TLoads::Both, [](O& o) { o.loginbrowser = true; }, true, ReadFlag<O, &O::loginbrowser>,
     WriteFlag<O, &O::loginbrowser>},
    {"disablesendinvoiceemailsalert", TLoads::Both, nullptr, false, ReadFlag<O, &O::disablesendinvoiceemailsalert>,
     WriteFlag<O, &O::disablesendinvoiceemailsalert>},
    {"multiuser", TLoads::Both, [](O& o) { o.multiuser = false; }, true, ReadFlag<O, &O::multiuser>,
     WriteFlag<O, &O::multiuser>},
    // Never read: the alternate connection is a choice for one run (-ih), not a stored one.
    {"altinternet", TLoads::Both, [](O& o) { o.AlternateConnection = false; }, false, nullptr,
     WriteFlag<O, &O::AlternateConnection>},
    {"defaultproxy", TLoads::Both, nullptr, false, ReadFlag<O, &O::UseDefaultProxy>, WriteFlag<O, &O::UseDefaultProxy>},
    {"nologs", TLoads::Both, nullptr, false, ReadFlag<O, &O::NoLogs>, WriteFlag<O, &O::NoLogs>},
    {"autosync", TLoads::Full, nullptr, false, ReadFlag<O, &O::autosync>, WriteFlag<O, &O::autosync>},
    // Out of range is refused like a text that is no number: the schedule arithmetic steps
    // through these values and must neither spin nor overflow.
    {"autosynchowoften", TLoads::FullWhenAutoSync, ResetZero<&O::autosynchowoften>, false,
     ReadInteger<O, &O::autosynchowoften, 0, 0, 11>, WriteSchedule<&O::autosynchowoften>},
    {"autosynchour", TLoads::FullWhenAutoSync, ResetZero<&O::autosynchour>, false,
     ReadInteger<O, &O::autosynchour, 0, 0, 23>, WriteSchedule<&O::autosynchour>},
    {"autosyncminute", TLoads::FullWhenAutoSync, ResetZero<&O::autosyncminute>, false,
     ReadInteger<O, &O::autosyncminute, 0, 0, 59>, WriteSchedule<&O::autosyncminute>},
};

// --- Whether a document reads back as written ---------------------------------------------

// The writer drops attributes and the text of elements with children, so neither is compared.
bool SameTree(const TKvXMLElement& a, const TKvXMLElement& b) {
    std::vector<std::pair<const TKvXMLElement*, const TKvXMLElement*>> pending{{&a, &b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (x->Name() != y->Name() || x->ChildCount() != y->ChildCount()) return false;
        if (x->ChildCount() == 0 && x->Text() != y->Text()) return false;
        for (int i = 0; i < x->ChildCount(); ++i) pending.emplace_back(x->ChildAt(i), y->ChildAt(i));
    }
    return true;
}

std::string NowStamp() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString(); }

// A new file the owner alone can read, never over an existing one.
bool WriteNewPrivateFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

} // namespace

std::string ReadStoredText(std::string_view stored) { return DecodeXmlEntities(stored); }

std::string StoredText(std::string_view value) {
    if (value.find('<') == std::string_view::npos && ReadStoredText(value) == value && ProtectWhitespace(value) == value)
        return std::string(value);
    return ProtectWhitespace(HtmlEscape(value));
}

std::unique_ptr<TKvXML> ParseSettingsText(std::string bytes) {
    auto doc = std::make_unique<TKvXML>();
    doc->Silent = true; // the parser would show the whole text, tokens and all
    if (doc->Parse(NormalizeLineEnds(bytes)) != TKvXML::TParseResult::Parsed || doc->Root()->Name().empty())
        return nullptr;
    TKvXML back;
    back.Silent = true;
    if (back.Parse(doc->SaveToText()) != TKvXML::TParseResult::Parsed || !SameTree(*doc->Root(), *back.Root()))
        return nullptr;
    return doc;
}

void ReadSettingsOptions(const TKvXML& doc, bool optionsOnly, TOptions& o, bool& highFrequency) {
    for (const TOptionSetting& s : OptionSettings)
        if (s.Reset && s.ResetAlways) s.Reset(o);
    const TKvXMLElement* options = doc.Root()->FindChild("options");
    if (!options) return;
    for (const TOptionSetting& s : OptionSettings) {
        if (s.Loads != TLoads::Both && optionsOnly) continue;
        if (s.Reset && !s.ResetAlways) s.Reset(o);
        if (s.Loads == TLoads::FullWhenAutoSync && !o.autosync) continue;
        if (const TKvXMLElement* e = s.Read ? options->FindChild(s.Element) : nullptr) s.Read(o, *e);
    }
    if (!optionsOnly && o.autosync && o.autosynchowoften >= 7) highFrequency = true;
}

TLoadedSettings ReadSettingsBillers(const TKvXML& doc) {
    TLoadedSettings loaded;
    const TKvXMLElement* list = doc.Root()->FindChild("businesslist");
    // Every element after the first "business" is a biller, whatever its name.
    for (const TKvXMLElement* b = list ? list->FindChild("business") : nullptr; b; b = b->NextSibling()) {
        BillerRecord r;
        for (const TBillerSetting& s : BillerSettings) {
            if (!s.Read || !Carries(s.Which, r)) continue;
            if (const TKvXMLElement* e = b->FindChild(s.Element)) s.Read(r, *e);
        }
        // Older versions stored the password in plain text; it is read once and saved as a token.
        if (!b->FindChild(TokenElement)) {
            if (const TKvXMLElement* plain = b->FindChild("password")) {
                r.password = ReadStoredText(plain->Text());
                loaded.hadPlainPassword = true;
            }
        }
        loaded.billers.push_back(std::move(r));
    }
    return loaded;
}

std::string WriteSettingsText(TKvXML& doc, const TOptions& o, const std::vector<const BillerRecord*>& billers) {
    TKvXMLElement* root = doc.Root();
    // Every copy goes, not only the first: a second one left behind would be read next time in
    // place of what is written now.
    while (TKvXMLElement* e = root->FindChild("businesslist")) root->RemoveChild(e);
    while (TKvXMLElement* e = root->FindChild("options")) root->RemoveChild(e);
    root->SetName("mvt");

    TKvXMLElement* options = root->AddChild("options");
    for (const TOptionSetting& s : OptionSettings) options->AddChild(s.Element, s.Write(o));

    TKvXMLElement* list = root->AddChild("businesslist");
    for (const BillerRecord* r : billers) {
        TKvXMLElement* b = list->AddChild("business");
        for (const TBillerSetting& s : BillerSettings)
            if (Carries(s.Which, *r)) b->AddChild(s.Element, s.Write(*r));
    }
    return doc.SaveToText();
}

std::string DamagedSettingsMessage(const std::string& path, const std::string& copy, bool backupUsed) {
    return "The settings could not be read from:\r" + path + "\r\rThe file is damaged. It was kept unchanged as:\r" +
           copy + "\r\r" +
           (backupUsed ? "The settings of the last successful save were used instead."
                       : "No earlier copy of the settings was found, so the program starts without them.");
}

TSettingsStore::TSettingsStore(TAppState& app, TUserPrompts& prompts) : app_(app), prompts_(prompts) {}

std::string TSettingsStore::Path() const { return app_.SettingsFileName(); }

void TSettingsStore::RemoveStaleTemporaries() const {
    RemoveStaleReplacements(Path());
    RemoveStaleReplacements(BackupPath());
}

std::unique_ptr<TKvXML> TSettingsStore::OpenSettingsDocument() {
    if (failed_) return nullptr;
    const std::string path = Path();
    std::optional<std::string> bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const std::exception&) {
        failed_ = true;
        prompts_.ShowMessage("Unable to load settings from:\r" + path);
        app_.RequestTerminate();
        return nullptr;
    }
    if (!bytes) {
        auto doc = std::make_unique<TKvXML>();
        doc->Silent = true;
        return doc;
    }
    if (std::unique_ptr<TKvXML> doc = ParseSettingsText(*bytes)) return doc;
    return HandleDamagedFile(*bytes);
}

std::unique_ptr<TKvXML> TSettingsStore::HandleDamagedFile(const std::string& bytes) {
    auto empty = [] {
        auto doc = std::make_unique<TKvXML>();
        doc->Silent = true;
        return doc;
    };
    if (keptDamaged_ && *keptDamaged_ == bytes) return empty();

    const std::string path = Path();
    // Kept before anything is written; a copy that cannot be made means nothing may be written.
    std::string copy = path + ".damaged-" + NowStamp();
    bool kept = WriteNewPrivateFile(copy, bytes);
    for (int n = 2; !kept && n < 100 && errno == EEXIST; ++n) {
        copy = path + ".damaged-" + NowStamp() + "-" + std::to_string(n);
        kept = WriteNewPrivateFile(copy, bytes);
    }
    if (!kept) {
        failed_ = true;
        prompts_.ShowMessage("Unable to load settings from:\r" + path);
        app_.RequestTerminate();
        return nullptr;
    }

    std::unique_ptr<TKvXML> doc;
    try {
        if (std::optional<std::string> backup = ReadWholeFile(BackupPath())) {
            if ((doc = ParseSettingsText(*backup))) ReplaceFileAtomically(path, *backup);
        }
    } catch (const std::exception&) {
        // The backup cannot be read, or cannot be put back: the program starts without it, and
        // the damaged file keeps its place until the next save.
        doc.reset();
    }
    const bool backupUsed = doc != nullptr;
    if (!doc) {
        keptDamaged_ = bytes;
        doc = empty();
    }
    prompts_.ShowMessage(DamagedSettingsMessage(path, copy, backupUsed));
    return doc;
}

TSettingsStore::TLoaded TSettingsStore::LoadSettings(bool optionsOnly, TOptions& o) {
    TLoaded loaded;
    std::unique_ptr<TKvXML> doc = OpenSettingsDocument();
    if (!doc) return loaded;
    ReadSettingsOptions(*doc, optionsOnly, o, app_.HighFrequency);
    // The switch says what the user wants for this run, whatever the file holds.
    if (app_.AlternateConnectionSwitch) o.AlternateConnection = true;
    if (!optionsOnly) loaded = ReadSettingsBillers(*doc);
    doc.reset();

    if (loaded.hadPlainPassword) {
        std::vector<const BillerRecord*> records;
        for (const BillerRecord& r : loaded.billers) records.push_back(&r);
        SaveSettings(o, records);
    }
    return loaded;
}

bool TSettingsStore::SaveSettings(const TOptions& o, const std::vector<const BillerRecord*>& billers) {
    std::unique_ptr<TKvXML> doc = OpenSettingsDocument();
    if (!doc) return false;
    const std::string text = WriteSettingsText(*doc, o, billers);
    const std::string path = Path();
    try {
        ReplaceFileAtomically(path, text);
    } catch (const std::exception&) {
        failed_ = true;
        prompts_.ShowMessage("Unable to save settings to:\r" + path);
        app_.RequestTerminate();
        return false;
    }
    keptDamaged_.reset();
    try {
        ReplaceFileAtomically(BackupPath(), text);
    } catch (const std::exception& e) {
        // The settings themselves are saved; only the spare copy is missing.
        std::fprintf(stderr, "settings: no backup copy: %s\n", e.what());
    }
    RemoveStaleTemporaries();
    return true;
}

} // namespace dm
