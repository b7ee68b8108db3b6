#pragma once

// The QuickBooks request processor as the engine sees it: the operations of the SDK's COM
// object, called in the order create, OpenConnection, preferences, BeginSession,
// ProcessRequest..., EndSession, CloseConnection, release. On Linux the ProgID resolves to the
// local stand-in; tests may put their own factory in its place.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

inline constexpr std::string_view kRequestProcessorProgId = "QBXMLRP2.RequestProcessor";
// The name the agent opens its connection with; QuickBooks grants access by this name.
inline constexpr std::string_view kQbApplicationName = "Invara Desktop Manager";

// The file modes of BeginSession.
inline constexpr int kQbFileOpenSingleUser = 0;
inline constexpr int kQbFileOpenMultiUser = 1;
inline constexpr int kQbFileOpenDoNotCare = 2;

// A failure of the request processor. Code is the HRESULT (a signed 32-bit value, as COM
// reports it) when the failure stands for a COM error, else 0.
class TQbError : public std::runtime_error {
public:
    explicit TQbError(const std::string& message, std::int32_t code = 0)
        : std::runtime_error(message), code_(code) {}
    std::int32_t Code() const { return code_; }
    bool IsComError() const { return code_ != 0; }

private:
    std::int32_t code_;
};

// HRESULTs of the SDK's request processor.
namespace qbhr {
inline constexpr std::int32_t Hr(std::uint32_t value) { return static_cast<std::int32_t>(value); }
inline constexpr std::int32_t ParseError = Hr(0x80040400);
inline constexpr std::int32_t CouldNotAccess = Hr(0x80040401);
inline constexpr std::int32_t CouldNotOpenFile = Hr(0x80040403);
inline constexpr std::int32_t Unexpected = Hr(0x80040402);
inline constexpr std::int32_t OtherFileOpen = Hr(0x8004040A);
inline constexpr std::int32_t InvalidTicket = Hr(0x8004040D);
inline constexpr std::int32_t WrongFileMode = Hr(0x80040410);
inline constexpr std::int32_t ModalDialog = Hr(0x80040414);
inline constexpr std::int32_t NeedFileName = Hr(0x80040416);
inline constexpr std::int32_t FirstAccess = Hr(0x80040418);
inline constexpr std::int32_t NoPermission = Hr(0x8004041A);
inline constexpr std::int32_t NoAutoLogin = Hr(0x8004041D);
inline constexpr std::int32_t UserDenied = Hr(0x80040420);
inline constexpr std::int32_t InvalidClassString = Hr(0x800401F3);
} // namespace qbhr

// The messages the session tells apart (compared exactly or by substring by the engine).
inline constexpr std::string_view kQbMsgUserDenied = "The QuickBooks user has denied access";
inline constexpr std::string_view kQbMsgNoPermission =
    "This application does not have permission to access this QuickBooks company data file. "
    "The QuickBooks administrator can grant access permission through the Integrated "
    "Application preferences";
inline constexpr std::string_view kQbMsgNoAutoLogin =
    "This application is not allowed to log into this QuickBooks company data file "
    "automatically. The QuickBooks administrator can grant permission for an automatic login "
    "through the Integrated Application preferences";
inline constexpr std::string_view kQbMsgParseError =
    "QuickBooks found an error when parsing the provided XML text stream.";

// The "AuthPreferences" object of a processor; it keeps what was put, in order.
class TAuthPreferences {
public:
    struct TCall {
        std::string Name;
        int Value;
        bool operator==(const TCall&) const = default;
    };

    void PutAuthFlags(int flags) { Record("PutAuthFlags", flags); authFlags_ = flags; }
    void PutIsReadOnly(bool readOnly) { Record("PutIsReadOnly", readOnly); readOnly_ = readOnly; }
    void PutUnattendedModePref(int pref) { Record("PutUnattendedModePref", pref); unattended_ = pref; }
    void PutPersonalDataPref(int pref) { Record("PutPersonalDataPref", pref); personalData_ = pref; }

    const std::vector<TCall>& Calls() const { return calls_; }
    int AuthFlags() const { return authFlags_; }
    bool IsReadOnly() const { return readOnly_; }
    // 1 asks for unattended mode: the application logs in without a user.
    int UnattendedModePref() const { return unattended_; }
    int PersonalDataPref() const { return personalData_; }

private:
    void Record(const char* name, int value) { calls_.push_back({name, value}); }
    std::vector<TCall> calls_;
    int authFlags_ = 0;
    bool readOnly_ = false;
    int unattended_ = 0;
    int personalData_ = 0;
};

class TRequestProcessor {
public:
    virtual ~TRequestProcessor() = default;

    virtual void OpenConnection(const std::string& appId, const std::string& appName) = 0;
    virtual TAuthPreferences& AuthPreferences() = 0;
    // path "" means the company file open in QuickBooks; mode is one of kQbFileOpen*.
    // Returns the ticket; throws TQbError.
    virtual std::string BeginSession(const std::string& path, int mode) = 0;
    virtual std::string GetCurrentCompanyFileName(const std::string& ticket) = 0;
    // The qbXML version the processor speaks.
    virtual int MajorVersion() = 0;
    virtual int MinorVersion() = 0;
    virtual std::string ProcessRequest(const std::string& ticket, const std::string& request) = 0;
    virtual void EndSession(const std::string& ticket) = 0;
    virtual void CloseConnection() = 0;
};

using TRequestProcessorFactory =
    std::function<std::unique_ptr<TRequestProcessor>(std::string_view progId)>;

// A new processor for the ProgID; throws TQbError for a ProgID nothing answers to.
std::unique_ptr<TRequestProcessor> CreateRequestProcessor(std::string_view progId);
// Puts a factory in place of the built-in one (an empty one restores it); returns the
// previous factory.
TRequestProcessorFactory SetRequestProcessorFactory(TRequestProcessorFactory factory);

// Installs a factory for the lifetime of the object (tests).
class TScopedRequestProcessorFactory {
public:
    explicit TScopedRequestProcessorFactory(TRequestProcessorFactory factory)
        : previous_(SetRequestProcessorFactory(std::move(factory))) {}
    ~TScopedRequestProcessorFactory() { SetRequestProcessorFactory(std::move(previous_)); }
    TScopedRequestProcessorFactory(const TScopedRequestProcessorFactory&) = delete;
    TScopedRequestProcessorFactory& operator=(const TScopedRequestProcessorFactory&) = delete;

private:
    TRequestProcessorFactory previous_;
};

// The authorisation preferences every caller sets right after OpenConnection: all
// QuickBooks editions, read and write, unattended mode required, personal data required.
void SetQuickBooksAuthPreferences(TRequestProcessor& processor);

} // namespace dm
