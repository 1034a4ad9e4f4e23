#include "net/http_request_parser.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

void dropTrailingCr(QByteArray& line) {
    if (line.endsWith('\r'))
        line.chop(1);
}

} // namespace

QByteArray HttpRequestInfo::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpRequestParser::Status HttpRequestParser::fail(Fault fault) {
    m_fault = fault;
    m_status = Status::Bad;
    m_stage = Stage::Done;
    m_line.clear();
    m_line.squeeze();
    return m_status;
}

HttpRequestParser::Status HttpRequestParser::feed(const char* data, std::size_t size) {
    while (size > 0 && m_status == Status::Incomplete) {
        switch (m_stage) {
        case Stage::RequestLine:
        case Stage::Headers: {
            const void* lf = std::memchr(data, '\n', size);
            const std::size_t take =
                lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1 : size;
            // Check before copying so a flood without line end never grows the buffer past
            // the cap by more than nothing.
            const std::size_t lineBytes = static_cast<std::size_t>(m_line.size()) + take;
            if (m_stage == Stage::RequestLine) {
                // The cap is on the text; CR LF may come on top of it.
                if (lineBytes > kMaxRequestLine + 2)
                    return fail(Fault::RequestLineTooLong);
            } else if (m_headerBytes + lineBytes > kMaxHeaderBlock) {
                return fail(Fault::HeaderBlockTooLarge);
            }
            m_line.append(data, static_cast<qsizetype>(take));
            data += take;
            size -= take;
            if (!lf)
                break;
            m_line.chop(1); // the LF
            if (m_stage == Stage::RequestLine)
                takeRequestLine();
            else
                takeHeaderLine();
            m_line.clear();
            break;
        }
        case Stage::Body: {
            const std::uint64_t take = std::min<std::uint64_t>(m_bodyLeft, size);
            m_bodyLeft -= take;
            data += take;
            size -= static_cast<std::size_t>(take);
            if (m_bodyLeft == 0) {
                m_stage = Stage::Done;
                m_status = Status::Complete;
            }
            break;
        }
        case Stage::BodyToClose:
            size = 0;
            break;
        case Stage::Done:
            size = 0;
            break;
        }
    }
    return m_status;
}

HttpRequestParser::Status HttpRequestParser::finish() {
    if (m_status != Status::Incomplete)
        return m_status;
    if (m_stage == Stage::BodyToClose) {
        m_stage = Stage::Done;
        m_status = Status::Complete;
        return m_status;
    }
    return fail(Fault::ClosedEarly);
}

HttpRequestParser::Status HttpRequestParser::takeRequestLine() {
    dropTrailingCr(m_line);
    if (static_cast<std::size_t>(m_line.size()) > kMaxRequestLine)
        return fail(Fault::RequestLineTooLong);
    const qsizetype lastBlank = m_line.lastIndexOf(' ');
    if (lastBlank < 0)
        return fail(Fault::NoVersion);
    m_request.version = m_line.mid(lastBlank + 1);
    const QByteArray rest = m_line.left(lastBlank);
    const qsizetype firstBlank = rest.indexOf(' ');
    m_request.command = (firstBlank < 0 ? rest : rest.left(firstBlank)).toUpper();
    m_request.target = firstBlank < 0 ? QByteArray() : rest.mid(firstBlank + 1);
    if (m_request.command != "GET" && m_request.command != "POST" && m_request.command != "HEAD")
        return fail(Fault::UnknownCommand);
    const qsizetype question = m_request.target.indexOf('?');
    m_request.document = question < 0 ? m_request.target : m_request.target.left(question);
    m_request.params = question < 0 ? QByteArray() : m_request.target.mid(question + 1);
    m_stage = Stage::Headers;
    return m_status;
}

HttpRequestParser::Status HttpRequestParser::takeHeaderLine() {
    m_headerBytes += static_cast<std::size_t>(m_line.size()) + 1;
    dropTrailingCr(m_line);
    const QByteArray trimmed = trimBlanks(m_line);
    if (trimmed.isEmpty())
        return headersDone();
    if (++m_headerLines > kMaxHeaderLines)
        return fail(Fault::TooManyHeaderLines);
    const qsizetype colon = trimmed.indexOf(':');
    if (colon < 0)
        m_request.headers.append({trimmed, QByteArray()});
    else
        m_request.headers.append(
            {trimBlanks(trimmed.left(colon)), trimBlanks(trimmed.mid(colon + 1))});
    return m_status;
}

HttpRequestParser::Status HttpRequestParser::headersDone() {
    m_request.host = m_request.header("host");
    m_request.cookie = m_request.header("cookie");
    const QByteArray authorization = m_request.header("Authorization");
    if (!authorization.isNull()) {
        const qsizetype blank = authorization.indexOf(' ');
        const QByteArray scheme = blank < 0 ? authorization : authorization.left(blank);
        if (scheme.compare("Basic", Qt::CaseInsensitive) != 0)
            return fail(Fault::UnsupportedAuthorisation);
        const QByteArray decoded = QByteArray::fromBase64(
            trimBlanks(blank < 0 ? QByteArray() : authorization.mid(blank + 1)));
        const qsizetype colon = decoded.indexOf(':');
        m_request.authUser = colon < 0 ? decoded : decoded.left(colon);
        m_request.authPassword = colon < 0 ? QByteArray() : decoded.mid(colon + 1);
    }

    const QByteArray lengthText = m_request.header("Content-Length");
    bool isNumber = false;
    const qulonglong length = lengthText.toULongLong(&isNumber);
    m_line.clear();
    m_line.squeeze();
    if (!lengthText.isNull() && isNumber) {
        if (length == 0) {
            m_stage = Stage::Done;
            m_status = Status::Complete;
        } else {
            m_bodyLeft = length;
            m_stage = Stage::Body;
        }
    } else if (m_request.command == "POST") {
        m_stage = Stage::BodyToClose;
    } else {
        m_stage = Stage::Done;
        m_status = Status::Complete;
    }
    return m_status;
}
