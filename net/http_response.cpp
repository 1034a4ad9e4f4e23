#include "net/http_response.h"

QByteArray reasonPhrase(int code) {
    switch (code) {
    case 200:
        return "OK";
    case 500:
        return "Interner Server-Fehler";
    default:
        return {};
    }
}

void HttpResponseInfo::setStatus(int code) {
    statusCode = code;
    reasonText = reasonPhrase(code);
}

void HttpResponseInfo::setHeader(const QByteArray& name, const QByteArray& value) {
    for (auto& line : headerLines) {
        if (line.first.compare(name, Qt::CaseInsensitive) == 0) {
            line.second = value;
            return;
        }
    }
    headerLines.append({name, value});
}

QByteArray HttpResponseInfo::takeHeader() {
    if (headerWritten)
        return {};
    headerWritten = true;
    setHeader("Server", serverSoftware);
    setHeader("Content-Type", contentType);
    if (contentLength == -1 && !contentText.isEmpty())
        contentLength = contentText.size();
    if (contentLength >= 0)
        setHeader("Content-Length", QByteArray::number(static_cast<qint64>(contentLength)));

    QByteArray out = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + reasonText + "\r\n";
    for (const auto& [name, value] : headerLines)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    return out;
}
