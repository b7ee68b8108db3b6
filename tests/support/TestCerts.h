#pragma once

#include <string>

namespace dmtest {

// A certificate authority, a server certificate it signed for 127.0.0.1, and a self-signed
// certificate nobody trusts; made once per test program with the openssl command.
struct TTestCerts {
    std::string CaFile, CertFile, KeyFile, UntrustedCertFile, UntrustedKeyFile;
    static const TTestCerts& Get();
};

} // namespace dmtest
