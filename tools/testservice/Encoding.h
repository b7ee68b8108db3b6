#pragma once

// Decoders for what the agent sends: form bodies, hexadecimal log text, Base64 files. Each one
// refuses input that is not well formed, so an encoding fault on the agent's side shows up as a
// refused request instead of silently changed data.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dm {

using TFormFields = std::vector<std::pair<std::string, std::string>>;

// "+" is a space, "%XX" a byte; false for a "%" not followed by two hexadecimal digits.
bool FormDecode(std::string_view text, std::string& out);
// name=value pairs separated by "&", both sides decoded once; false when one does not decode.
bool ParseForm(std::string_view body, TFormFields& fields);
// The value of the first field of that name, or the empty text.
std::string FormValue(const TFormFields& fields, std::string_view name);

// Two hexadecimal digits per byte, either case.
bool HexDecode(std::string_view text, std::string& out);
// The standard alphabet with "=" padding, one line; false for anything else.
bool Base64Decode(std::string_view text, std::string& out);

// The escaping of XML text content that every answer uses.
std::string XmlText(std::string_view text);

// "1234.5" -> "$1,234.50", the way amounts are shown to people.
std::string MoneyText(std::string_view amount);
// A decimal text of the amount with two places; 0 for text that is not a number.
double AmountValue(std::string_view amount);
// The local time as QuickBooks writes it: "2024-03-04T10:15:00".
std::string NowText();
// One second after a QuickBooks date-time ("2024-03-04T10:15:00-08:00" keeps its offset).
std::string NextSecond(std::string_view time);

} // namespace dm
