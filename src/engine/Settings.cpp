#include "engine/Settings.h"

#include "core/General.h"
#include "engine/AppState.h"
#include "engine/UserPrompts.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"

#include <filesystem>
#include <system_error>

namespace dm {

namespace {

const char* Flag(bool on) { return on ? "1" : "0"; }

bool ReadFlag(const TKvXMLElement* e) { return e && e->Text() == "1"; }

// A decimal integer as the settings file writes it; the default for anything else.
int ReadInteger(std::string_view text, int fallback) { return ParseInteger(text).value_or(fallback); }

// The never-synchronised value is written as the zero date of the format the file came from.
const QDateTime ZeroDate(QDate(1899, 12, 30), QTime(0, 0));

std::string LastSyncText(const QDateTime& when) { return DateTimeText(when.isValid() ? when : ZeroDate); }

QDateTime ReadLastSync(std::string_view text) {
    // A text that does not read back (another regional format) counts as never synchronised.
    std::optional<QDateTime> when = ParseDateTimeText(text);
    if (!when || *when == ZeroDate) return {};
    return *when;
}

} // namespace

std::string ReadStoredText(std::string_view stored) { return DecodeXmlEntities(stored); }

std::string StoredText(std::string_view value) {
    if (value.find('<') == std::string_view::npos && ReadStoredText(value) == value) return std::string(value);
    return HtmlEscape(value);
}

TSettingsStore::TSettingsStore(TAppState& app, TUserPrompts& prompts) : app_(app), prompts_(prompts) {}

std::string TSettingsStore::Path() const { return app_.SettingsFileName(); }

std::unique_ptr<TKvXML> TSettingsStore::OpenSettingsDocument() {
    auto doc = std::make_unique<TKvXML>();
    const std::string path = Path();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return doc;
    try {
        if (ec) throw std::system_error(ec);
        doc->LoadFromFile(path);
    } catch (const std::exception&) {
        prompts_.ShowMessage("Unable to load settings from:\r" + path);
        app_.RequestTerminate();
        return nullptr;
    }
    return doc;
}

TSettingsStore::TLoaded TSettingsStore::LoadSettings(bool optionsOnly, TOptions& o) {
    TLoaded loaded;
    std::unique_ptr<TKvXML> doc = OpenSettingsDocument();
    if (!doc) return loaded;
    const TKvXMLElement* root = doc->Root();

    o.loginbrowser = true;
    o.multiuser = false;
    if (const TKvXMLElement* opt = root->FindChild("options")) {
        if (auto e = opt->FindChild("disablesendinvoiceemailsalert")) o.disablesendinvoiceemailsalert = ReadFlag(e);
        if (auto e = opt->FindChild("loginbrowser")) o.loginbrowser = ReadFlag(e);
        if (auto e = opt->FindChild("multiuser")) o.multiuser = ReadFlag(e);
        o.AlternateConnection = false;
        if (auto e = opt->FindChild("defaultproxy")) o.UseDefaultProxy = ReadFlag(e);
        if (auto e = opt->FindChild("nologs")) o.NoLogs = ReadFlag(e);
        if (!optionsOnly) {
            o.autosynchowoften = o.autosynchour = o.autosyncminute = 0;
            if (auto e = opt->FindChild("autosync")) {
                o.autosync = ReadFlag(e);
                if (o.autosync) {
                    if (auto v = opt->FindChild("autosynchowoften")) {
                        o.autosynchowoften = ReadInteger(v->Text(), 0);
                        if (o.autosynchowoften >= 7) app_.HighFrequency = true;
                    }
                    if (auto v = opt->FindChild("autosynchour")) o.autosynchour = ReadInteger(v->Text(), 0);
                    if (auto v = opt->FindChild("autosyncminute")) o.autosyncminute = ReadInteger(v->Text(), 0);
                }
            }
        }
    }
    // The switch says what the user wants for this run, whatever the file holds.
    if (app_.AlternateConnectionSwitch) o.AlternateConnection = true;

    const TKvXMLElement* list = optionsOnly ? nullptr : root->FindChild("businesslist");
    for (const TKvXMLElement* b = list ? list->FindChild("business") : nullptr; b; b = b->NextSibling()) {
        BillerRecord r;
        auto text = [&](const char* name) { return ReadStoredText(b->PathText(name)); };
        r.name = text("name");
        if (b->FindChild("type")) r.type = text("type");
        if (r.type == "ezi") {
            r.invoiceimportimportdirectory = text("invoiceimportimportdirectory");
            r.invoiceimportafterimporting = ReadInteger(b->PathText("invoiceimportafterimporting"), 0);
            if (r.invoiceimportafterimporting == 2)
                r.invoiceimportmovetodirectory = text("invoiceimportmovetodirectory");
            r.invoiceimportexecuteafter = text("invoiceimportexecuteafter");
        }
        r.id = text("id");
        r.username = text("username");
        if (const TKvXMLElement* token = b->FindChild("token")) {
            // A token that is not valid hexadecimal gives no password; the account
            // confirmation then asks for it.
            r.password = DecodeToken(token->Text());
        } else if (const TKvXMLElement* plain = b->FindChild("password")) {
            r.password = ReadStoredText(plain->Text());
            loaded.hadPlainPassword = true;
        }
        if (const TKvXMLElement* e = b->FindChild("lastsync")) r.lastsync = ReadLastSync(e->Text());
        r.autosync = ReadFlag(b->FindChild("autosync"));
        r.autosyncminutes = ReadInteger(b->PathText("autosyncminutes"), 30);
        if (r.autosyncminutes <= 0) r.autosyncminutes = 30;
        if (auto e = b->FindChild("paymentnotify")) r.paymentnotify = ReadFlag(e);
        if (auto e = b->FindChild("smartsync")) {
            r.smartsync = ReadFlag(e);
            if (e->Text() == "1") {
                r.smartsyncdelay = ReadInteger(b->PathText("smartsyncdelay"), 1);
                r.smartsyncfilepath = HtmlUnescape(b->PathText("smartsyncfilepath"));
                r.smartsyncsource = HtmlUnescape(b->PathText("smartsyncsource"));
            }
        }
        if (auto e = b->FindChild("checkpayments")) r.checkpayments = ReadFlag(e);
        r.remembercppassword = ReadInteger(b->PathText("remembercppassword"), 0) == 1;
        loaded.billers.push_back(std::move(r));
    }
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
    TKvXMLElement* root = doc->Root();
    if (TKvXMLElement* e = root->FindChild("businesslist")) root->RemoveChild(e);
    if (TKvXMLElement* e = root->FindChild("options")) root->RemoveChild(e);
    root->SetName("mvt");

    TKvXMLElement* opt = root->AddChild("options");
    opt->AddChild("loginbrowser", Flag(o.loginbrowser));
    opt->AddChild("disablesendinvoiceemailsalert", Flag(o.disablesendinvoiceemailsalert));
    opt->AddChild("multiuser", Flag(o.multiuser));
    opt->AddChild("altinternet", Flag(o.AlternateConnection));
    opt->AddChild("defaultproxy", Flag(o.UseDefaultProxy));
    opt->AddChild("nologs", Flag(o.NoLogs));
    opt->AddChild("autosync", Flag(o.autosync));
    opt->AddChild("autosynchowoften", o.autosync ? std::to_string(o.autosynchowoften) : "0");
    opt->AddChild("autosynchour", o.autosync ? std::to_string(o.autosynchour) : "0");
    opt->AddChild("autosyncminute", o.autosync ? std::to_string(o.autosyncminute) : "0");

    TKvXMLElement* list = root->AddChild("businesslist");
    for (const BillerRecord* r : billers) {
        TKvXMLElement* b = list->AddChild("business");
        b->AddChild("type", StoredText(r->type));
        b->AddChild("name", StoredText(r->name));
        b->AddChild("id", StoredText(r->id));
        b->AddChild("username", StoredText(r->username));
        b->AddChild("token", EncodeToken(r->password));
        b->AddChild("lastsync", LastSyncText(r->lastsync));
        b->AddChild("autosyncminutes", std::to_string(r->autosyncminutes));
        b->AddChild("smartsync", Flag(r->smartsync));
        if (r->smartsync) {
            b->AddChild("smartsyncdelay", std::to_string(r->smartsyncdelay));
            b->AddChild("smartsyncfilepath", HtmlEscape(r->smartsyncfilepath));
            b->AddChild("smartsyncsource", HtmlEscape(r->smartsyncsource));
        }
        if (r->type == "ezi") {
            b->AddChild("invoiceimportimportdirectory", StoredText(r->invoiceimportimportdirectory));
            b->AddChild("invoiceimportafterimporting", std::to_string(r->invoiceimportafterimporting));
            if (r->invoiceimportafterimporting == 2)
                b->AddChild("invoiceimportmovetodirectory", StoredText(r->invoiceimportmovetodirectory));
            b->AddChild("invoiceimportexecuteafter", StoredText(r->invoiceimportexecuteafter));
        }
        b->AddChild("remembercppassword", Flag(r->remembercppassword));
        b->AddChild("autosync", Flag(r->autosync));
        b->AddChild("paymentnotifications", Flag(r->paymentnotify));
        b->AddChild("paymentnotify", Flag(r->paymentnotify));
        b->AddChild("checkpayments", Flag(r->checkpayments));
    }

    const std::string path = Path();
    try {
        ReplaceFileAtomically(path, doc->SaveToText());
    } catch (const std::exception&) {
        prompts_.ShowMessage("Unable to save settings to:\r" + path);
        app_.RequestTerminate();
        return false;
    }
    return true;
}

} // namespace dm
