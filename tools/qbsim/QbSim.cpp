// invara-qbsim: the command line of the local QuickBooks stand-in. It plays QuickBooks' user:
// creates and opens company files, grants or refuses integrated applications, shows a
// blocking dialog and enters customers, items, invoices and payments, while the agent may
// hold a session on the same folder.

#include "core/General.h"
#include "qb/QuickBooksHome.h"
#include "qb/RequestProcessor.h"
#include "qb/SampleCompany.h"

#include "QbWindow.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using namespace dm;

namespace {

constexpr const char* kUsage = R"(Usage: invara-qbsim [--home DIR] COMMAND [ARGUMENTS]

The local QuickBooks stand-in. Its QuickBooks folder is DIR, else $INVARA_QB_HOME, else
~/.local/share/invara-qbsim/. A FILE is a path, or a bare name for a file in that folder
(".qbw" is added when the name has no extension). Commands that work on a company file use
--file FILE, or the company file open in QuickBooks.

QuickBooks itself:
  status                         whether QuickBooks runs, the open file, dialog and sessions
  demo [--reset] [--multi]       create "Demo Co" (sample data, the agent allowed to log in
                                 automatically) unless it exists, and open it
  create FILE [--name NAME] [--sample]
                                 create a company file, empty or with sample data
  open FILE [--multi]            start QuickBooks with FILE open, single-user unless --multi
  close                          close the company file; QuickBooks keeps running
  start                          start QuickBooks with no company file open
  quit                           quit QuickBooks; sessions of applications end
  dialog show [TITLE]            a modal dialog blocks new sessions
  dialog clear                   dismiss it
  window [--title TITLE] [--keys FILE] [--page-at N]
                                 open QuickBooks' main window on X11 (title "Demo Co -
                                 QuickBooks Pro" unless TITLE), window class MauiFrame, with
                                 Edit > Preferences... opening the Preferences window (class
                                 MauiForm): its entry Integrated Applications (the fourth in
                                 the list, or the Nth) holds the check box window (class
                                 MauiCheckBox) that the agent's access repair looks for, and
                                 Alt+C shows its Company Preferences tab.
                                 The menus are on the accessibility bus (AT-SPI) when one runs.
                                 --keys FILE: every key pressed is appended to FILE, one a line,
                                 as a key sequence names it ({home}, {down}, %c). Runs until the
                                 main window is closed; QuickBooks' state in DIR is not touched

Integrated applications (APP is "Invara Desktop Manager" unless --app NAME):
  grant [--no-auto-login]        allow APP to read and modify the file (and to log in
                                 automatically, unless --no-auto-login)
  no-auto-login                  allow APP, but not to log in automatically
  deny                           the user refused APP access
  revoke                         the administrator took APP's access away
  forget                         APP has never asked for access

Lists and transactions:
  customer add NAME [--company C] [--first F] [--last L] [--email E] [--phone P]
               [--addr1 A] [--city C] [--state S] [--zip Z]
  item add NAME [--type service|noninventory|othercharge] [--price P] [--desc D]
  invoice add --customer NAME [--ref N] [--date YYYY-MM-DD] [--due YYYY-MM-DD] [--memo M]
              [--po N] --item NAME [--qty Q] [--rate R] [--desc D] [--amount A] [--item ...]
                                 each --item starts a line; --qty, --rate, --desc and
                                 --amount after it belong to that line
  payment add --customer NAME --amount A [--invoice REF]... [--ref N] [--method M]
              [--date YYYY-MM-DD] [--memo M]
                                 applied to the invoices named (RefNumber or TxnID) in order,
                                 else to the customer's oldest open invoices
  list [customers|items|invoices|payments|apps]

Exit status: 0 done, 1 refused or failed, 2 bad command line.
)";

class TUsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

const std::set<std::string> kFlags = {"--multi", "--sample", "--no-auto-login", "--reset", "--help"};

struct TArgs {
    std::vector<std::string> Positional;
    std::vector<std::pair<std::string, std::string>> Options; // in the order given

    std::optional<std::string> Get(const std::string& name) const {
        std::optional<std::string> value;
        for (const auto& [n, v] : Options)
            if (n == name) value = v;
        return value;
    }
    bool Has(const std::string& name) const { return Get(name).has_value(); }
    std::string Need(const std::string& name) const {
        auto value = Get(name);
        if (!value) throw TUsageError("missing " + name);
        return *value;
    }
};

TArgs ParseArgs(const std::vector<std::string>& args, size_t from) {
    TArgs parsed;
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.rfind("--", 0) == 0) {
            if (kFlags.count(a)) {
                parsed.Options.emplace_back(a, "1");
            } else {
                if (i + 1 >= args.size()) throw TUsageError(a + " needs a value");
                parsed.Options.emplace_back(a, args[++i]);
            }
        } else {
            parsed.Positional.push_back(a);
        }
    }
    return parsed;
}

TMoney NeedMoney(const std::string& text, const char* what) {
    TMoney value;
    if (!ParseMoney(text, value)) throw TUsageError(std::string(what) + " is not an amount: " + text);
    return value;
}

double NeedNumber(const std::string& text, const char* what) {
    double value;
    if (!ParseDecimal(text, value)) throw TUsageError(std::string(what) + " is not a number: " + text);
    return value;
}

class TQbSim {
public:
    explicit TQbSim(TQuickBooksHome home) : home_(std::move(home)) {}

    int Run(const std::string& command, const std::vector<std::string>& args) {
        TArgs a = ParseArgs(args, 0);
        for (const auto& [name, value] : a.Options)
            // Company files hold what XML can carry: the request processor refuses the rest.
            if (!IsXmlText(value)) throw TUsageError(name + " is not UTF-8 text");
        for (const std::string& p : a.Positional)
            if (!IsXmlText(p)) throw TUsageError("arguments must be UTF-8 text");
        if (command == "status") return Status();
        if (command == "demo") return Demo(a);
        if (command == "create") return Create(a);
        if (command == "open") {
            if (a.Positional.size() != 1) throw TUsageError("open needs one FILE");
            std::string path = home_.CompanyFilePath(a.Positional[0]);
            home_.OpenCompanyFile(path, a.Has("--multi"));
            std::cout << "QuickBooks has " << path << " open (" << (a.Has("--multi") ? "multi" : "single")
                      << "-user).\n";
            return 0;
        }
        if (command == "close") {
            home_.CloseCompanyFile();
            std::cout << "The company file is closed.\n";
            return 0;
        }
        if (command == "start") {
            home_.Start();
            std::cout << "QuickBooks is running.\n";
            return 0;
        }
        if (command == "quit") {
            home_.Quit();
            std::cout << "QuickBooks is not running.\n";
            return 0;
        }
        if (command == "dialog") return Dialog(a);
        if (command == "window") {
            if (!a.Positional.empty()) throw TUsageError("use: window [--title TITLE] [--keys FILE] [--page-at N]");
            TQbWindowOptions options;
            if (auto at = a.Get("--page-at")) {
                const std::optional<int> n = ParseInteger(*at);
                if (!n || *n < 1 || *n > 10) throw TUsageError("--page-at is a position from 1 to 10");
                options.PageAt = *n;
            }
            if (auto title = a.Get("--title")) options.Title = *title;
            if (auto keys = a.Get("--keys")) options.KeysFile = *keys;
            return RunQuickBooksWindow("invara-qbsim", options);
        }
        if (command == "grant" || command == "no-auto-login" || command == "deny" || command == "revoke" ||
            command == "forget")
            return Permission(command, a);
        if (command == "customer") return CustomerAdd(a);
        if (command == "item") return ItemAdd(a);
        if (command == "invoice") return InvoiceAdd(a);
        if (command == "payment") return PaymentAdd(a);
        if (command == "list") return List(a);
        throw TUsageError("unknown command " + command);
    }

private:
    TQuickBooksHome home_;

    std::string FileOf(const TArgs& a) const {
        if (auto file = a.Get("--file")) return home_.CompanyFilePath(*file);
        TQbState state = home_.ReadState();
        if (!state.Running || state.CompanyFile.empty())
            throw std::runtime_error("No company file is open in QuickBooks; name one with --file.");
        return state.CompanyFile;
    }

    static void NeedSubcommand(const TArgs& a, const char* noun) {
        if (a.Positional.empty() || a.Positional[0] != "add")
            throw TUsageError(std::string("use: ") + noun + " add ...");
    }

    // Changes a company file the way QuickBooks' user does, refusals reported as QuickBooks words them.
    void Change(const std::string& path, const std::function<void(TCompanyFile&)>& change) {
        TCompanyFileStore store(path);
        store.Use([&](TCompanyFile& file) {
            change(file);
            return true;
        });
    }

    int Status() {
        TQbState s = home_.ReadState();
        std::cout << "QuickBooks folder: " << home_.Folder() << "\n";
        std::cout << "QuickBooks: " << (s.Running ? "running" : "not running") << "\n";
        if (s.Running) {
            if (s.CompanyFile.empty()) {
                std::cout << "Company file: none\n";
            } else {
                std::cout << "Company file: " << s.CompanyFile << " (" << (s.MultiUser ? "multi" : "single")
                          << "-user" << (s.Background ? ", opened by an integrated application" : "") << ")\n";
            }
            std::cout << "Modal dialog: " << (s.Dialog.empty() ? "none" : s.Dialog) << "\n";
        }
        std::cout << "Sessions: " << s.Sessions.size() << "\n";
        for (const TQbSessionRecord& r : s.Sessions)
            std::cout << "  " << r.Ticket << "  " << r.AppName << " (process " << r.Pid << ")\n";
        return 0;
    }

    int Demo(const TArgs& a) {
        std::string path = home_.CompanyFilePath("Demo Co");
        if (a.Has("--reset")) std::filesystem::remove(path);
        if (!std::filesystem::exists(path)) {
            TCompanyFile file = MakeSampleCompany("Demo Co", std::time(nullptr));
            file.SetPermission(kQbApplicationName, TQbAccess::Granted, true);
            TCompanyFileStore::Create(path, file);
            std::cout << "Created " << path << "\n";
        }
        home_.OpenCompanyFile(path, a.Has("--multi"));
        std::cout << "QuickBooks has " << path << " open.\n";
        return 0;
    }

    int Create(const TArgs& a) {
        if (a.Positional.size() != 1) throw TUsageError("create needs one FILE");
        std::string path = home_.CompanyFilePath(a.Positional[0]);
        std::string name = a.Get("--name").value_or(std::filesystem::path(path).stem().string());
        TCompanyFile file;
        if (a.Has("--sample")) {
            file = MakeSampleCompany(name, std::time(nullptr));
        } else {
            file.Company.CompanyName = name;
            file.Company.LegalCompanyName = name;
        }
        TCompanyFileStore::Create(path, file);
        std::cout << "Created " << path << "\n";
        return 0;
    }

    int Dialog(const TArgs& a) {
        if (a.Positional.empty()) throw TUsageError("use: dialog show [TITLE] | dialog clear");
        if (a.Positional[0] == "show") {
            std::string title = a.Positional.size() > 1 ? a.Positional[1] : "";
            home_.ShowDialog(title);
            std::cout << "A modal dialog is open in QuickBooks.\n";
            return 0;
        }
        if (a.Positional[0] == "clear") {
            home_.ClearDialog();
            std::cout << "No modal dialog is open in QuickBooks.\n";
            return 0;
        }
        throw TUsageError("use: dialog show [TITLE] | dialog clear");
    }

    int Permission(const std::string& command, const TArgs& a) {
        std::string app = a.Get("--app").value_or(std::string(kQbApplicationName));
        std::string path = FileOf(a);
        Change(path, [&](TCompanyFile& file) {
            if (command == "grant") file.SetPermission(app, TQbAccess::Granted, !a.Has("--no-auto-login"));
            if (command == "no-auto-login") file.SetPermission(app, TQbAccess::Granted, false);
            if (command == "deny") file.SetPermission(app, TQbAccess::Denied, false);
            if (command == "revoke") file.SetPermission(app, TQbAccess::Revoked, false);
            if (command == "forget") file.RemovePermission(app);
        });
        std::cout << "\"" << app << "\" in " << path << ": " << command << "\n";
        return 0;
    }

    int CustomerAdd(const TArgs& a) {
        NeedSubcommand(a, "customer");
        if (a.Positional.size() != 2) throw TUsageError("customer add needs one NAME");
        TQbCustomer c;
        c.Name = a.Positional[1];
        c.CompanyName = a.Get("--company").value_or("");
        c.FirstName = a.Get("--first").value_or("");
        c.LastName = a.Get("--last").value_or("");
        c.Email = a.Get("--email").value_or("");
        c.Phone = a.Get("--phone").value_or("");
        c.BillAddress.Addr1 = a.Get("--addr1").value_or("");
        c.BillAddress.City = a.Get("--city").value_or("");
        c.BillAddress.State = a.Get("--state").value_or("");
        c.BillAddress.PostalCode = a.Get("--zip").value_or("");
        std::string id;
        Change(FileOf(a), [&](TCompanyFile& file) { id = file.AddCustomer(c, std::time(nullptr)).ListID; });
        std::cout << "Added customer " << c.Name << " (ListID " << id << ")\n";
        return 0;
    }

    int ItemAdd(const TArgs& a) {
        NeedSubcommand(a, "item");
        if (a.Positional.size() != 2) throw TUsageError("item add needs one NAME");
        TQbItem item;
        item.Name = a.Positional[1];
        auto type = ParseItemType(a.Get("--type").value_or("Service"));
        if (!type) throw TUsageError("--type is service, noninventory or othercharge");
        item.Type = *type;
        item.Desc = a.Get("--desc").value_or("");
        if (auto price = a.Get("--price")) item.Price = NeedNumber(*price, "--price");
        std::string id;
        Change(FileOf(a), [&](TCompanyFile& file) { id = file.AddItem(item, std::time(nullptr)).ListID; });
        std::cout << "Added item " << item.Name << " (ListID " << id << ")\n";
        return 0;
    }

    int InvoiceAdd(const TArgs& a) {
        NeedSubcommand(a, "invoice");
        TQbInvoiceAdd add;
        add.Customer.FullName = a.Need("--customer");
        add.RefNumber = a.Get("--ref").value_or("");
        add.TxnDate = a.Get("--date").value_or("");
        add.DueDate = a.Get("--due").value_or("");
        add.Memo = a.Get("--memo").value_or("");
        add.PONumber = a.Get("--po").value_or("");
        for (const auto& [name, value] : a.Options) {
            if (name == "--item") {
                add.Lines.emplace_back();
                add.Lines.back().Item.FullName = value;
                continue;
            }
            if (name != "--qty" && name != "--rate" && name != "--desc" && name != "--amount") continue;
            if (add.Lines.empty()) throw TUsageError(name + " belongs after an --item");
            TQbInvoiceLineAdd& line = add.Lines.back();
            if (name == "--qty") line.Quantity = NeedNumber(value, "--qty");
            if (name == "--rate") line.Rate = NeedNumber(value, "--rate");
            if (name == "--desc") line.Desc = value;
            if (name == "--amount") line.Amount = NeedMoney(value, "--amount");
        }
        if (add.Lines.empty()) throw TUsageError("an invoice needs at least one --item");
        std::string ref, id;
        TMoney total = 0;
        Change(FileOf(a), [&](TCompanyFile& file) {
            const TQbInvoice& inv = file.AddInvoice(add, std::time(nullptr));
            ref = inv.RefNumber, id = inv.TxnID, total = inv.Subtotal;
        });
        std::cout << "Added invoice " << ref << " (TxnID " << id << ") for " << add.Customer.FullName << ": "
                  << FormatMoney(total) << "\n";
        return 0;
    }

    int PaymentAdd(const TArgs& a) {
        NeedSubcommand(a, "payment");
        TQbPaymentAdd add;
        add.Customer.FullName = a.Need("--customer");
        add.TotalAmount = NeedMoney(a.Need("--amount"), "--amount");
        add.RefNumber = a.Get("--ref").value_or("");
        add.PaymentMethod = a.Get("--method").value_or("");
        add.TxnDate = a.Get("--date").value_or("");
        add.Memo = a.Get("--memo").value_or("");
        std::vector<std::string> invoices;
        for (const auto& [name, value] : a.Options)
            if (name == "--invoice") invoices.push_back(value);
        add.AutoApply = invoices.empty();
        std::string id;
        TMoney applied = 0;
        Change(FileOf(a), [&](TCompanyFile& file) {
            TMoney left = *add.TotalAmount;
            for (const std::string& named : invoices) {
                const TQbInvoice* inv = file.FindInvoice(named);
                for (const TQbInvoice& candidate : file.Invoices())
                    if (!inv && candidate.RefNumber == named) inv = &candidate;
                if (!inv) throw std::runtime_error("There is no invoice " + named + ".");
                TMoney amount = std::min(left, inv->BalanceRemaining());
                if (amount <= 0) continue;
                add.Applied.push_back({inv->TxnID, amount});
                left -= amount;
            }
            const TQbPayment& pay = file.AddPayment(add, std::time(nullptr));
            id = pay.TxnID;
            applied = pay.TotalAmount - pay.Unused();
        });
        std::cout << "Added payment (TxnID " << id << ") from " << add.Customer.FullName << ": "
                  << FormatMoney(*add.TotalAmount) << ", " << FormatMoney(applied) << " applied\n";
        return 0;
    }

    int List(const TArgs& a) {
        std::string what = a.Positional.empty() ? "all" : a.Positional[0];
        static const std::set<std::string> kWhat = {"all", "customers", "items", "invoices", "payments", "apps"};
        if (!kWhat.count(what)) throw TUsageError("list customers, items, invoices, payments or apps");
        std::string path = FileOf(a);
        TCompanyFile file = TCompanyFileStore(path).Read();
        bool all = what == "all";
        std::printf("%s (%s)\n", file.Company.CompanyName.c_str(), path.c_str());
        if (all || what == "customers") {
            std::printf("Customers: %zu\n", file.Customers().size());
            for (const TQbCustomer& c : file.Customers())
                std::printf("  %-20s %-32s balance %12s\n", c.ListID.c_str(), c.Name.c_str(),
                            FormatMoney(c.Balance).c_str());
        }
        if (all || what == "items") {
            std::printf("Items: %zu\n", file.Items().size());
            for (const TQbItem& i : file.Items())
                std::printf("  %-20s %-32s %-12s %10s\n", i.ListID.c_str(), i.Name.c_str(), ItemTypeName(i.Type),
                            i.Price ? FormatRate(*i.Price).c_str() : "");
        }
        if (all || what == "invoices") {
            std::printf("Invoices: %zu\n", file.Invoices().size());
            for (const TQbInvoice& inv : file.Invoices())
                std::printf("  %-8s %-16s %s %-32s total %10s  balance %10s  %zu line(s)\n", inv.RefNumber.c_str(),
                            inv.TxnID.c_str(), inv.TxnDate.c_str(), inv.Customer.FullName.c_str(),
                            FormatMoney(inv.Subtotal).c_str(), FormatMoney(inv.BalanceRemaining()).c_str(),
                            inv.Lines.size());
        }
        if (all || what == "payments") {
            std::printf("Payments: %zu\n", file.Payments().size());
            for (const TQbPayment& p : file.Payments())
                std::printf("  %-8s %-16s %s %-32s amount %10s  unused %10s\n", p.RefNumber.c_str(), p.TxnID.c_str(),
                            p.TxnDate.c_str(), p.Customer.FullName.c_str(), FormatMoney(p.TotalAmount).c_str(),
                            FormatMoney(p.Unused()).c_str());
        }
        if (all || what == "apps") {
            std::printf("Integrated applications: %zu\n", file.Permissions().size());
            for (const TQbPermission& p : file.Permissions()) {
                const char* access = p.Access == TQbAccess::Granted  ? "granted"
                                     : p.Access == TQbAccess::Denied ? "denied"
                                                                     : "revoked";
                std::printf("  %-32s %s%s\n", p.AppName.c_str(), access,
                            p.Access == TQbAccess::Granted && !p.AutoLogin ? ", no automatic login" : "");
            }
        }
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    dm::IgnoreBrokenPipes();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> home;
    size_t i = 0;
    try {
        for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
            if (args[i] == "--help") {
                std::cout << kUsage;
                return 0;
            }
            if (args[i] == "--home" && i + 1 < args.size()) {
                home = args[++i];
                continue;
            }
            throw TUsageError("unknown option " + args[i]);
        }
        if (i >= args.size() || args[i] == "help") {
            std::cout << kUsage;
            return i >= args.size() ? 2 : 0;
        }
        std::string command = args[i];
        std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
        for (const std::string& a : rest) {
            if (a == "--help") {
                std::cout << kUsage;
                return 0;
            }
        }
        TQbSim sim(TQuickBooksHome(home ? *home : DefaultQuickBooksHome()));
        return sim.Run(command, rest);
    } catch (const TUsageError& e) {
        std::cerr << "invara-qbsim: " << e.what() << "\nTry invara-qbsim --help.\n";
        return 2;
    } catch (const TQbStatusError& e) {
        std::cerr << "invara-qbsim: QuickBooks refused (" << e.Status().Code << "): " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "invara-qbsim: " << e.what() << "\n";
        return 1;
    }
}
