#pragma once

// The envelope of every request to the biller endpoint ("webservices/service.php"): the
// biller's credentials around one operation element. The attachment changes of the review
// identify the biller by its id, the invoice file import by its user name.

#include <string>
#include <string_view>

namespace dm {

// The operation element is markup and goes in as it is. The identifier and the password are
// escaped: a password with "&" or "<" must not break the request.
std::string BillerRequestEnvelope(std::string_view identifier, std::string_view password, std::string_view operation);

} // namespace dm
