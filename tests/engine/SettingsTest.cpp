#include "engine/AppState.h"
#include "engine/Settings.h"
#include "engine/UserPrompts.h"
#include "platform/DateTimeText.h"

#include "ScriptedPrompts.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dm;
namespace fs = std::filesystem;

namespace {

using RecordingPrompts = dmtest::TScriptedPrompts;

struct Fixture {
    dmtest::TempDir dir;
    TAppState app;
    RecordingPrompts prompts;
    TSettingsStore store{app, prompts};
    Fixture(const std::string& prefix = "") {
        app.StorageFolder = dir.Folder();
        app.EnvironmentPrefix = prefix;
    }
    std::string File() const { return dmtest::ReadFileBytes(app.SettingsFileName()); }
    bool Save(const TOptions& o, const std::vector<BillerRecord>& billers) {
        std::vector<const BillerRecord*> refs;
        for (const BillerRecord& b : billers) refs.push_back(&b);
        return store.SaveSettings(o, refs);
    }
};

BillerRecord Acme() {
    BillerRecord b;
    b.name = "Acme";
    b.id = "123";
    b.username = "acme";
    b.password = "abc";
    return b;
}

} // namespace

TEST(Settings, WritesTheDocumentedFileByteForByte) {
    Fixture f;
    TOptions o;
    o.loginbrowser = false;
    ASSERT_TRUE(f.Save(o, {Acme()}));
    const std::string zero = DateTimeText(QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_EQ(f.File(),
              "<?xml version=\"1.0\"?><mvt><options><loginbrowser>0</loginbrowser>"
              "<disablesendinvoiceemailsalert>0</disablesendinvoiceemailsalert><multiuser>0</multiuser>"
              "<altinternet>0</altinternet><defaultproxy>1</defaultproxy><nologs>0</nologs>"
              "<autosync>0</autosync><autosynchowoften>0</autosynchowoften><autosynchour>0</autosynchour>"
              "<autosyncminute>0</autosyncminute></options>"
              "<businesslist><business><type>qbd</type><name>Acme</name><id>123</id><username>acme</username>"
              "<token>313631-373138</token><lastsync>" + zero + "</lastsync><autosyncminutes>30</autosyncminutes>"
              "<smartsync>1</smartsync><smartsyncdelay>0</smartsyncdelay><smartsyncfilepath /><smartsyncsource />"
              "<remembercppassword>0</remembercppassword><autosync>0</autosync>"
              "<paymentnotifications>1</paymentnotifications><paymentnotify>1</paymentnotify>"
              "<checkpayments>1</checkpayments></business></businesslist></mvt>\r\n");
    EXPECT_EQ(fs::status(f.app.SettingsFileName()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::path(f.app.SettingsFileName()).filename(), "invdesk.xml");
}

TEST(Settings, OldFileLoadsAndSavesWithAToken) {
    Fixture f("dev");
    fs::copy_file(DM_SOURCE_DIR "/tests/engine/fixtures/old-settings.xml", f.app.SettingsFileName());
    f.app.AlternateConnectionSwitch = false;
    TOptions o;
    o.AlternateConnection = true; // as -ih would have set it
    TSettingsStore::TLoaded loaded = f.store.LoadSettings(false, o);

    EXPECT_FALSE(o.loginbrowser);
    EXPECT_FALSE(o.AlternateConnection); // an options element turns it off
    EXPECT_FALSE(o.UseDefaultProxy);
    EXPECT_TRUE(o.NoLogs);
    EXPECT_TRUE(o.autosync);
    EXPECT_EQ(o.autosynchowoften, 8);
    EXPECT_EQ(o.autosynchour, 14);
    EXPECT_EQ(o.autosyncminute, 5);
    EXPECT_TRUE(f.app.HighFrequency);

    ASSERT_EQ(loaded.billers.size(), 2u);
    const BillerRecord& ab = loaded.billers[0];
    EXPECT_EQ(ab.name, "A & B");
    EXPECT_EQ(ab.type, "qbd");
    EXPECT_EQ(ab.password, "abc");
    EXPECT_FALSE(ab.lastsync.isValid()); // unreadable: never synchronised
    EXPECT_EQ(ab.autosyncminutes, 30);
    EXPECT_TRUE(ab.paymentnotify); // "paymentnotifications" is not read
    EXPECT_TRUE(ab.smartsync);
    EXPECT_EQ(ab.smartsyncdelay, 0);
    EXPECT_TRUE(ab.remembercppassword); // "01" is the integer 1
    const BillerRecord& imp = loaded.billers[1];
    EXPECT_EQ(imp.type, "ezi");
    EXPECT_EQ(imp.invoiceimportimportdirectory, "/data/in/");
    EXPECT_EQ(imp.invoiceimportafterimporting, 0);
    EXPECT_EQ(imp.invoiceimportmovetodirectory, ""); // ignored unless the action is "move"
    EXPECT_FALSE(imp.remembercppassword);
    EXPECT_FALSE(imp.paymentnotify);
    EXPECT_FALSE(imp.checkpayments);
    EXPECT_FALSE(imp.smartsync);

    // Saved at once: a token instead of the plain password; the unknown element stays first.
    ASSERT_TRUE(loaded.hadPlainPassword);
    std::string saved = f.File();
    EXPECT_EQ(saved.find("<password>"), std::string::npos);
    EXPECT_NE(saved.find("<name>A & B</name><id>77</id><username>ab</username><token>313631-373138</token>"),
              std::string::npos);
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\"?><mvt><extra>1</extra><options>", 0), 0u);
    EXPECT_NE(saved.find("<autosync>1</autosync><autosynchowoften>8</autosynchowoften>"
                         "<autosynchour>14</autosynchour><autosyncminute>5</autosyncminute>"),
              std::string::npos);
}

TEST(Settings, UnknownElementsSurviveManySaves) {
    Fixture f;
    dmtest::WriteFileBytes(f.app.SettingsFileName(), "<?xml version=\"1.0\"?><mvt><extra>1</extra><other><x>2</x></other></mvt>");
    TOptions o;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(f.Save(o, {Acme()}));
    EXPECT_EQ(f.File().rfind("<?xml version=\"1.0\"?><mvt><extra>1</extra><other><x>2</x></other><options>", 0), 0u);
    TSettingsStore::TLoaded loaded = f.store.LoadSettings(false, o);
    EXPECT_EQ(loaded.billers.size(), 1u);
}

TEST(Settings, EveryValueRoundTrips) {
    Fixture f;
    TOptions o;
    o.disablesendinvoiceemailsalert = true;
    o.multiuser = true;
    o.NoLogs = true;
    o.autosync = true;
    o.autosynchowoften = 3;
    o.autosynchour = 23;
    o.autosyncminute = 59;
    BillerRecord b;
    b.type = "ezi";
    b.name = "A & B <Retail> &amp; co";
    b.id = "9";
    b.username = "o'brien&<x>";
    b.password = "p<a>ss&word";
    b.lastsync = QDateTime(QDate(2026, 12, 9), QTime(17, 4, 33));
    b.autosyncminutes = 45;
    b.smartsync = true;
    b.smartsyncdelay = 4;
    b.smartsyncfilepath = "/books/A&B <1>.qbw";
    b.smartsyncsource = "src & <x>";
    b.invoiceimportimportdirectory = "/In & <Out>/";
    b.invoiceimportafterimporting = 2;
    b.invoiceimportmovetodirectory = "/Done/";
    b.invoiceimportexecuteafter = "/usr/bin/notify --x=\"a&b\"";
    b.remembercppassword = true;
    b.autosync = true;
    b.paymentnotify = false;
    b.checkpayments = false;
    BillerRecord midnight = Acme();
    midnight.lastsync = QDateTime(QDate(2026, 1, 2), QTime(0, 0));
    ASSERT_TRUE(f.Save(o, {b, midnight}));

    TOptions r;
    TSettingsStore::TLoaded loaded = f.store.LoadSettings(false, r);
    EXPECT_TRUE(r.disablesendinvoiceemailsalert && r.multiuser && r.NoLogs && r.autosync);
    EXPECT_EQ(r.autosynchowoften, 3);
    EXPECT_EQ(r.autosynchour, 23);
    EXPECT_EQ(r.autosyncminute, 59);
    ASSERT_EQ(loaded.billers.size(), 2u);
    const BillerRecord& x = loaded.billers[0];
    EXPECT_EQ(x.type, b.type);
    EXPECT_EQ(x.name, b.name);
    EXPECT_EQ(x.id, b.id);
    EXPECT_EQ(x.username, b.username);
    EXPECT_EQ(x.password, b.password);
    EXPECT_EQ(x.lastsync, b.lastsync);
    EXPECT_EQ(x.autosyncminutes, 45);
    EXPECT_EQ(x.smartsyncdelay, 4);
    EXPECT_EQ(x.smartsyncfilepath, b.smartsyncfilepath);
    EXPECT_EQ(x.smartsyncsource, b.smartsyncsource);
    EXPECT_EQ(x.invoiceimportimportdirectory, b.invoiceimportimportdirectory);
    EXPECT_EQ(x.invoiceimportafterimporting, 2);
    EXPECT_EQ(x.invoiceimportmovetodirectory, b.invoiceimportmovetodirectory);
    EXPECT_EQ(x.invoiceimportexecuteafter, b.invoiceimportexecuteafter);
    EXPECT_TRUE(x.remembercppassword && x.autosync);
    EXPECT_FALSE(x.paymentnotify || x.checkpayments);
    EXPECT_EQ(loaded.billers[1].lastsync, midnight.lastsync);
    EXPECT_FALSE(loaded.hadPlainPassword);
    // A plain name is stored as it is, an ampersand bare.
    Fixture g;
    BillerRecord plain = Acme();
    plain.name = "A & B";
    ASSERT_TRUE(g.Save(TOptions{}, {plain}));
    EXPECT_NE(g.File().find("<name>A & B</name>"), std::string::npos);
}

TEST(Settings, ScheduleAndOptionRules) {
    struct Case {
        std::string options;
        bool optionsOnly;
        bool autosync;
        int howOften;
        bool highFrequency;
    } cases[] = {
        {"<autosync>0</autosync><autosynchowoften>9</autosynchowoften>", false, false, 0, false},
        {"<autosync>1</autosync><autosynchowoften>8</autosynchowoften>", false, true, 8, true},
        {"<autosync>1</autosync><autosynchowoften>x</autosynchowoften>", false, true, 0, false},
        {"<autosync>1</autosync><autosynchowoften>8</autosynchowoften>", true, false, 0, false},
        // Out of range reads as no number: nothing may spin or overflow on a stored value.
        {"<autosync>1</autosync><autosynchowoften>12</autosynchowoften>", false, true, 0, false},
        {"<autosync>1</autosync><autosynchowoften>-1</autosynchowoften>", false, true, 0, false},
        {"<autosync>1</autosync><autosynchowoften>11</autosynchowoften>", false, true, 11, true},
    };
    for (const Case& c : cases) {
        Fixture f;
        dmtest::WriteFileBytes(f.app.SettingsFileName(), "<?xml version=\"1.0\"?><mvt><options>" + c.options + "</options></mvt>");
        TOptions o;
        f.store.LoadSettings(c.optionsOnly, o);
        EXPECT_EQ(o.autosync, c.autosync) << c.options;
        EXPECT_EQ(o.autosynchowoften, c.howOften) << c.options;
        EXPECT_EQ(f.app.HighFrequency, c.highFrequency) << c.options;
    }

    struct TimeCase {
        const char* hour;
        const char* minute;
        int readHour, readMinute;
    } times[] = {{"23", "59", 23, 59}, {"24", "60", 0, 0}, {"-2147483648", "-1", 0, 0}, {"2147483647", "99999", 0, 0}};
    for (const TimeCase& t : times) {
        Fixture f;
        dmtest::WriteFileBytes(f.app.SettingsFileName(),
                               std::string("<?xml version=\"1.0\"?><mvt><options><autosync>1</autosync>") +
                                   "<autosynchowoften>6</autosynchowoften><autosynchour>" + t.hour +
                                   "</autosynchour><autosyncminute>" + t.minute + "</autosyncminute></options></mvt>");
        TOptions o;
        f.store.LoadSettings(false, o);
        EXPECT_EQ(o.autosynchour, t.readHour) << t.hour;
        EXPECT_EQ(o.autosyncminute, t.readMinute) << t.minute;
    }

    // Without an options element the flags stay as the program started them (-ih included).
    Fixture f;
    dmtest::WriteFileBytes(f.app.SettingsFileName(), "<?xml version=\"1.0\"?><mvt></mvt>");
    TOptions o;
    o.AlternateConnection = true;
    f.store.LoadSettings(false, o);
    EXPECT_TRUE(o.UseDefaultProxy);
    EXPECT_FALSE(o.NoLogs);
    EXPECT_TRUE(o.AlternateConnection);
    EXPECT_TRUE(o.loginbrowser);
    // The switch prevails over the file's options element.
    Fixture h;
    h.app.AlternateConnectionSwitch = true;
    dmtest::WriteFileBytes(h.app.SettingsFileName(), "<?xml version=\"1.0\"?><mvt><options><altinternet>0</altinternet></options></mvt>");
    TOptions p;
    h.store.LoadSettings(true, p);
    EXPECT_TRUE(p.AlternateConnection);
}

namespace {

// What a start reads: the options, then everything.
TSettingsStore::TLoaded Start(Fixture& f, TOptions& o) {
    f.store.LoadSettings(true, o);
    return f.store.LoadSettings(false, o);
}

std::vector<fs::path> DamagedCopies(const Fixture& f) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(f.dir.Path()))
        if (entry.path().filename().string().rfind("invdesk.xml.damaged-", 0) == 0) found.push_back(entry.path());
    return found;
}

const std::string Token = "313631-373138"; // Acme's password

} // namespace

// A file that does not read back as written is never saved over: it is kept, the user is told
// once where (never what it held), and the last good save takes its place.
TEST(Settings, DamagedFileIsKeptAndTheLastGoodCopyUsed) {
    const std::string good = "<?xml version=\"1.0\"?><mvt><options><nologs>1</nologs></options><businesslist>"
                             "<business><name>Old</name><token>" + Token + "</token></business>";
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut inside a text", good + "<business><name>Acm"},
        {"cut after a tag", good + "</businesslist>"},
        {"garbage", std::string("\x7f" "ELF\x02\x01\x01\0\0\x03<<>>&&", 16) + Token},
        {"text after the last tag", good + "</businesslist></mvt> and then some"},
        {"empty", ""},
        // Written back as </extra>, which would hide the real list and bring back the old one.
        {"a name the writer cannot write", "<?xml version=\"1.0\"?><mvt><//extra><businesslist><business><name>Gone"
                                           "</name></business></businesslist><//extra><businesslist><business>"
                                           "<name>Old</name><token>" + Token + "</token></business></businesslist></mvt>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        TOptions saved;
        ASSERT_TRUE(f.Save(saved, {Acme(), Acme()}));
        const std::string lastGood = f.File();
        dmtest::WriteFileBytes(f.app.SettingsFileName(), c.bytes);

        TOptions o;
        TSettingsStore::TLoaded loaded = Start(f, o);
        ASSERT_EQ(loaded.billers.size(), 2u);
        EXPECT_EQ(loaded.billers[0].password, "abc");
        EXPECT_EQ(f.File(), lastGood);
        EXPECT_FALSE(f.app.TerminateRequested);

        std::vector<fs::path> copies = DamagedCopies(f);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(dmtest::ReadFileBytes(copies[0]), c.bytes);
        EXPECT_EQ(fs::status(copies[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        ASSERT_EQ(f.prompts.messages.size(), 1u);
        EXPECT_EQ(f.prompts.messages[0], DamagedSettingsMessage(f.app.SettingsFileName(), copies[0].string(), true));
        EXPECT_EQ(f.prompts.messages[0].find(Token), std::string::npos);

        // What the next save writes is what was loaded; the copy stays.
        ASSERT_TRUE(f.Save(o, {loaded.billers[0]}));
        EXPECT_EQ(Start(f, o).billers.size(), 1u);
        EXPECT_EQ(f.prompts.messages.size(), 1u);
        EXPECT_EQ(DamagedCopies(f).size(), 1u);
    }
}

TEST(Settings, DamagedFileWithoutBackupIsKeptAndToldOnce) {
    Fixture f;
    const std::string damaged = "<?xml version=\"1.0\"?><mvt><businesslist><business><name>Acme</name><token>" + Token;
    dmtest::WriteFileBytes(f.app.SettingsFileName(), damaged);
    TOptions o;
    EXPECT_TRUE(Start(f, o).billers.empty());
    std::vector<fs::path> copies = DamagedCopies(f);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(dmtest::ReadFileBytes(copies[0]), damaged);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0], DamagedSettingsMessage(f.app.SettingsFileName(), copies[0].string(), false));
    EXPECT_EQ(f.prompts.messages[0].find(Token), std::string::npos);
    EXPECT_EQ(f.File(), damaged); // nothing written yet

    ASSERT_TRUE(f.Save(o, {Acme()}));
    EXPECT_EQ(Start(f, o).billers.size(), 1u);
    EXPECT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(dmtest::ReadFileBytes(copies[0]), damaged);
    EXPECT_EQ(dmtest::ReadFileBytes(f.store.BackupPath()), f.File());
}

// Files that parse but hold a known element twice: what is loaded is what the save keeps, so
// the next load cannot find the other copy instead.
TEST(Settings, OneSaveNeverChangesWhatAFileMeans) {
    Fixture f;
    dmtest::WriteFileBytes(f.app.SettingsFileName(),
                           "<?xml version=\"1.0\"?><mvt><options><nologs>1</nologs></options><options><nologs>0"
                           "</nologs></options><businesslist><business><name>First</name></business></businesslist>"
                           "<businesslist><business><name>Second</name></business></businesslist></mvt>");
    TOptions o;
    TSettingsStore::TLoaded loaded = Start(f, o);
    ASSERT_EQ(loaded.billers.size(), 1u);
    EXPECT_EQ(loaded.billers[0].name, "First");
    EXPECT_TRUE(o.NoLogs);
    ASSERT_TRUE(f.Save(o, {loaded.billers[0]}));
    TOptions again;
    TSettingsStore::TLoaded reloaded = Start(f, again);
    ASSERT_EQ(reloaded.billers.size(), 1u);
    EXPECT_EQ(reloaded.billers[0].name, "First");
    EXPECT_TRUE(again.NoLogs);
    EXPECT_TRUE(f.prompts.messages.empty());
}

// The file holds reversible tokens.
TEST(Settings, SavedFileIsOwnerOnlyLinksStayAndReadOnlyIsRefused) {
    Fixture f;
    const std::string path = f.app.SettingsFileName();
    dmtest::WriteFileBytes(path, "<?xml version=\"1.0\"?><mvt></mvt>");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(f.Save(TOptions{}, {Acme()}));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(f.store.BackupPath()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    Fixture l;
    fs::create_directory(l.dir.Path() / "sync");
    dmtest::WriteFileBytes(l.dir.Path() / "sync" / "settings.xml", "<?xml version=\"1.0\"?><mvt><extra>1</extra></mvt>");
    fs::create_symlink(l.dir.Path() / "sync" / "settings.xml", l.app.SettingsFileName());
    ASSERT_TRUE(l.Save(TOptions{}, {Acme()}));
    EXPECT_TRUE(fs::is_symlink(l.app.SettingsFileName()));
    const std::string target = dmtest::ReadFileBytes(l.dir.Path() / "sync" / "settings.xml");
    EXPECT_NE(target.find("<extra>1</extra>"), std::string::npos);
    EXPECT_NE(target.find("<name>Acme</name>"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(l.dir.Path() / "sync"), fs::directory_iterator()), 1);

    const std::string before = f.File();
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    BillerRecord renamed = Acme();
    renamed.name = "Renamed";
    EXPECT_FALSE(f.Save(TOptions{}, {renamed}));
    EXPECT_EQ(f.File(), before);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0], "Unable to save settings to:\r" + path);
    EXPECT_TRUE(f.app.TerminateRequested);
    EXPECT_FALSE(f.Save(TOptions{}, {renamed})); // the shutdown's save: said once
    EXPECT_EQ(f.prompts.messages.size(), 1u);
}

TEST(Settings, SavesRemoveStaleTemporaries) {
    Fixture f;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string stale = f.app.SettingsFileName() + ".tmp-" + std::to_string(child) + "-3";
    const std::string staleBackup = f.store.BackupPath() + ".tmp-" + std::to_string(child) + "-4";
    dmtest::WriteFileBytes(stale, "<token>" + Token + "</token>");
    dmtest::WriteFileBytes(staleBackup, "x");
    ASSERT_TRUE(f.Save(TOptions{}, {Acme()}));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(staleBackup));
}

TEST(Settings, UnreadableAndUnwritableFilesStopTheProgram) {
    if (geteuid() == 0) {
        // Root reads any file: a folder in the file's place cannot be read by anyone.
    }
    Fixture f;
    fs::create_directory(f.app.SettingsFileName());
    TOptions o;
    EXPECT_TRUE(f.store.LoadSettings(false, o).billers.empty());
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0], "Unable to load settings from:\r" + f.app.SettingsFileName());
    EXPECT_TRUE(f.app.TerminateRequested);
    EXPECT_FALSE(f.Save(o, {Acme()})); // nothing is written over what could not be read
    EXPECT_TRUE(fs::is_directory(f.app.SettingsFileName()));
    EXPECT_EQ(f.prompts.messages.size(), 1u); // the shutdown's save says nothing more

    Fixture g;
    g.app.StorageFolder = g.dir.Folder() + "gone/";
    EXPECT_FALSE(g.Save(o, {Acme()}));
    ASSERT_EQ(g.prompts.messages.size(), 1u);
    EXPECT_EQ(g.prompts.messages[0], "Unable to save settings to:\r" + g.app.SettingsFileName());
    EXPECT_TRUE(g.app.TerminateRequested);
}

TEST(Settings, StoredTextRules) {
    struct {
        const char* value;
        const char* stored;
    } cases[] = {
        {"A & B", "A & B"},
        {"A & B <Retail>", "A &amp; B &lt;Retail&gt;"},
        {"R&amp;D", "R&amp;amp;D"},
        {"x > y", "x > y"},
        {"&lt", "&lt"},
        // The file is CR LF lines, and a text of blanks alone reads back empty.
        {"a\r\nb", "a\r\nb"},
        {"a\rb\nc", "a&#13;b&#10;c"},
        {"  ", "&#32;&#32;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StoredText(c.value), c.stored) << c.value;
        EXPECT_EQ(ReadStoredText(StoredText(c.value)), c.value) << c.value;
    }
}

// A child saves two alternating contents in a loop and is killed at random moments; the file
// must always parse and hold one of the two.
TEST(Settings, KillDuringSaveNeverLosesTheFile) {
    dmtest::TempDir dir;
    const std::string saver = DM_BIN_DIR "/settings_saver";
    const std::string file = dir.Folder() + "invdesk.xml";
    std::mt19937 random(12345);
    for (int round = 0; round < 150; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            execl(saver.c_str(), saver.c_str(), dir.Folder().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(2000 + random() % 20000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself: " << status;
        if (!fs::exists(file)) continue; // killed before its first save
        TKvXML doc;
        doc.LoadFromFile(file);
        std::string name = doc.Root()->PathText("businesslist/business/name");
        ASSERT_TRUE(name == "Old" || name == "New") << "round " << round << ": " << dmtest::ReadFileBytes(file);
    }
    // The next start removes the half-written siblings (each holds the tokens).
    TAppState app;
    app.StorageFolder = dir.Folder();
    RecordingPrompts prompts;
    TSettingsStore(app, prompts).RemoveStaleTemporaries();
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_TRUE(entry.path().filename() == "invdesk.xml" || entry.path().filename() == "invdesk.xml.bak")
            << entry.path();
}
