#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace trv {

// How a TLS connection to a device server is checked: the server's certificate against a CA
// file (else the system's CAs) and its name, or pinned by its SHA-256 fingerprint; and the
// client certificate for a server that demands one. Files are named here and read at each
// connect.
struct TlsSettings {
    QString caFile;      // PEM; empty: the system's CAs
    QString fingerprint; // SHA-256 of the server's certificate, as written; empty: no pin
    QString certFile;    // the client certificate (PEM), empty for none
    QString keyFile;     // its private key (PEM); empty: in certFile
    // The four keys as the user writes them, in this order, for messages.
    QStringList keys = storeKeys();

    static QStringList storeKeys();
    // None set, the keys named as trv-bridge's: tls-ca-file, tls-fingerprint, tls-cert-file,
    // tls-key-file.
    static TlsSettings daemon();
    // Sets the value of `key`, one of `keys`; false when it is a fingerprint that is not one.
    bool set(const QString& key, const QString& value);
    // Why these settings cannot be used (a fingerprint that is not one, a key without a
    // certificate), empty when they can.
    QString problem() const;
    // The 32 bytes of a SHA-256 fingerprint in hex, with or without colons (or spaces), in any
    // case, optionally led by "SHA256:"; nothing when the text is not one.
    static std::optional<QByteArray> parseFingerprint(const QString& text);
    // "AB:CD:…", as the openssl command prints it.
    static QString formatFingerprint(const QByteArray& digest);

    bool operator==(const TlsSettings&) const = default;
};

} // namespace trv
