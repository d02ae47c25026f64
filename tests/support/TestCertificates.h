#pragma once

#include <QString>

namespace trv::testing {

// Certificates made at run time with the openssl command, in one folder: a CA ("ca"), server
// certificates from it for localhost and 127.0.0.1 ("server"), for another name ("wrongname")
// and expired ("expired"), a self-signed one ("selfsigned"), a client certificate from the CA
// ("client", common name "trv"), and the folder of clients ser2net admits (authDir()).
// Each NAME is NAME.crt with its key in NAME.key.
class TestCertificates {
public:
    // Whether the openssl command is on this machine.
    static bool available();
    // Makes them all in `folder`; false when openssl failed.
    bool make(const QString& folder);
    QString crt(const char* name) const;
    QString key(const char* name) const;
    // The SHA-256 fingerprint as openssl prints it ("AB:CD:…").
    QString fingerprint(const char* name) const;
    QString authDir() const { return folder_ + QStringLiteral("/auth"); }

private:
    bool run(const QStringList& arguments) const;
    bool leaf(const char* name, const char* subject, const QString& names, int days, int serial);

    QString folder_;
};

} // namespace trv::testing
