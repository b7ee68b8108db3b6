#pragma once

// A small company with customers, items, open, part-paid and paid invoices: what `create
// --sample` and the demo start from.

#include "qb/CompanyFile.h"

#include <cstdint>
#include <string>

namespace dm {

TCompanyFile MakeSampleCompany(const std::string& companyName, std::int64_t now);

} // namespace dm
