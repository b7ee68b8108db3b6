#include "qb/SampleCompany.h"

namespace dm {

namespace {

TQbCustomer Customer(const char* name, const char* first, const char* last, const char* email,
                     const char* addr1, const char* city, const char* state, const char* zip) {
    TQbCustomer c;
    c.Name = name;
    c.CompanyName = name;
    c.FirstName = first;
    c.LastName = last;
    c.Email = email;
    c.BillAddress.Addr1 = name;
    c.BillAddress.Addr2 = addr1;
    c.BillAddress.City = city;
    c.BillAddress.State = state;
    c.BillAddress.PostalCode = zip;
    return c;
}

TQbItem Item(const char* name, TQbItemType type, const char* desc, double price) {
    TQbItem item;
    item.Name = name;
    item.Type = type;
    item.Desc = desc;
    item.Price = price;
    return item;
}

TQbInvoiceLineAdd Line(const char* item, double quantity) {
    TQbInvoiceLineAdd line;
    line.Item.FullName = item;
    line.Quantity = quantity;
    return line;
}

} // namespace

TCompanyFile MakeSampleCompany(const std::string& companyName, std::int64_t now) {
    TCompanyFile file;
    file.Company.CompanyName = companyName;
    file.Company.LegalCompanyName = companyName;
    file.Company.Address = {"100 Market Street", "", "", "", "", "Springfield", "IL", "62701", "US", ""};
    file.Company.Phone = "555-0100";
    file.Company.Email = "accounts@example.com";

    file.AddCustomer(Customer("Acme Supplies", "Ada", "Moss", "ada@acme.example", "12 Mill Road", "Springfield",
                              "IL", "62702"), now);
    file.AddCustomer(Customer("O'Brien & Sons <UK>", "Liam", "O'Brien", "liam@obrien.example", "4 Harbour Lane",
                              "Bristol", "", "BS1 4QA"), now);
    file.AddCustomer(Customer("Northwind Traders", "Nina", "Ward", "nina@northwind.example", "77 Pier Street",
                              "Portland", "OR", "97201"), now);
    file.AddCustomer(Customer("Blue Sky Cafe", "Ben", "Sky", "ben@bluesky.example", "9 Main Street", "Austin",
                              "TX", "73301"), now);
    file.AddCustomer(Customer("Riverside Dental", "Rita", "Side", "rita@riverside.example", "250 River Road",
                              "Madison", "WI", "53703"), now);

    file.AddItem(Item("Consulting", TQbItemType::Service, "Consulting, per hour", 150.00), now);
    file.AddItem(Item("Design", TQbItemType::Service, "Design work, per hour", 95.00), now);
    file.AddItem(Item("Support Plan", TQbItemType::Service, "Monthly support plan", 49.00), now);
    file.AddItem(Item("Printer Paper", TQbItemType::NonInventory, "Printer paper, box of 5 reams", 12.50), now);
    file.AddItem(Item("Delivery", TQbItemType::OtherCharge, "Delivery charge", 15.00), now);

    int refNumber = 1001;
    auto invoice = [&](const char* customer, std::initializer_list<TQbInvoiceLineAdd> lines,
                       const char* memo) -> const TQbInvoice& {
        TQbInvoiceAdd add;
        add.RefNumber = std::to_string(refNumber++);
        add.Customer.FullName = customer;
        add.Lines = lines;
        add.Memo = memo;
        return file.AddInvoice(add, now);
    };
    const TQbInvoice& first = invoice("Acme Supplies", {Line("Consulting", 8), Line("Delivery", 1)}, "Kick-off");
    std::string firstId = first.TxnID;
    const TQbInvoice& second = invoice("O'Brien & Sons <UK>", {Line("Design", 12.5)}, "Logo & letterhead");
    std::string secondId = second.TxnID;
    invoice("Northwind Traders", {Line("Support Plan", 3), Line("Printer Paper", 4)}, "");
    invoice("Blue Sky Cafe", {Line("Design", 4), Line("Printer Paper", 2), Line("Delivery", 1)}, "Menu cards");
    invoice("Riverside Dental", {Line("Consulting", 2)}, "");

    // One invoice paid in full, one in part, so that balances and LinkedTxn have something to show.
    TQbPaymentAdd full;
    full.Customer.FullName = "Acme Supplies";
    full.RefNumber = "2041";
    full.PaymentMethod = "Check";
    full.Applied.push_back({firstId, file.FindInvoice(firstId)->BalanceRemaining()});
    file.AddPayment(full, now);
    TQbPaymentAdd part;
    part.Customer.FullName = "O'Brien & Sons <UK>";
    part.RefNumber = "7781";
    part.PaymentMethod = "Visa";
    part.Applied.push_back({secondId, 500 * 100});
    file.AddPayment(part, now);
    return file;
}

} // namespace dm
