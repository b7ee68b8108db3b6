#include "TestCerts.h"

#include "TestSupport.h"

#include <cstdlib>
#include <stdexcept>

namespace dmtest {

namespace {

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

} // namespace

const TTestCerts& TTestCerts::Get() {
    static TempDir dir;
    static TTestCerts certs = [] {
        TTestCerts c;
        std::string d = dir.Folder();
        c.CaFile = d + "ca.pem";
        c.CertFile = d + "server.pem";
        c.KeyFile = d + "server.key";
        c.UntrustedCertFile = d + "self.pem";
        c.UntrustedKeyFile = d + "self.key";
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        Run("openssl req -x509" + ec + " -keyout " + d + "ca.key -out " + c.CaFile +
            " -days 2 -subj /CN=Loopback-Test-CA -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign,cRLSign");
        Run("openssl req" + ec + " -keyout " + c.KeyFile + " -out " + d + "server.csr -subj /CN=127.0.0.1");
        WriteFileBytes(dir.Path() / "ext.cnf",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                       "extendedKeyUsage=serverAuth\n");
        Run("openssl x509 -req -in " + d + "server.csr -CA " + c.CaFile + " -CAkey " + d +
            "ca.key -CAcreateserial -days 2 -extfile " + d + "ext.cnf -out " + c.CertFile);
        Run("openssl req -x509" + ec + " -keyout " + c.UntrustedKeyFile + " -out " + c.UntrustedCertFile +
            " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1");
        return c;
    }();
    return certs;
}

} // namespace dmtest
