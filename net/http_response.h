#pragma once
// The answer to one request, built without a socket: the connection thread fills it, then asks
// for the header bytes and writes them itself.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>

struct HttpResponseInfo {
    int statusCode = 200;
    QByteArray reasonText = "OK";
    QByteArray contentType = "text/html";
    std::int64_t contentLength = -1; // -1: unknown
    QByteArray serverSoftware = "stbmate-http/1.0";
    QList<QPair<QByteArray, QByteArray>> headerLines; // set order, a name set again replaced
    QByteArray contentText;
    bool headerWritten = false;

    // Sets the status code and its reason text from the fixed table (500 "Interner
    // Server-Fehler"; unknown codes get an empty reason).
    void setStatus(int code);
    // Sets or replaces the header line called name, keeping its first position.
    void setHeader(const QByteArray& name, const QByteArray& value);

    // Marks the header written and returns the bytes to send: status line, header lines in set
    // order, empty line, every line ending in CR LF. Returns a null QByteArray, changing nothing,
    // when the header was written already ("Der Header wurde bereits geschrieben.").
    QByteArray takeHeader();
};

// The reason text for the codes this server produces; empty for any other code.
QByteArray reasonPhrase(int code);
