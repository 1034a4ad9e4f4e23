#include "net/http_request_parser.h"
#include "net/http_response.h"

#include <gtest/gtest.h>

namespace {

using Status = HttpRequestParser::Status;
using Fault = HttpRequestParser::Fault;

HttpRequestParser parseWhole(const QByteArray& bytes) {
    HttpRequestParser parser;
    parser.feed(bytes);
    return parser;
}

TEST(HttpRequestParser, TakesRequestLineApartAsTheReceiverSendsIt) {
    struct Case {
        QByteArray request, command, target, document, params, version;
    } cases[] = {
        {"GET /proftpd.tar.bz2 HTTP/1.0\r\n\r\n", "GET", "/proftpd.tar.bz2", "/proftpd.tar.bz2", "",
         "HTTP/1.0"},
        {"get /anything?x=1 HTTP/1.1\r\nHost: a\r\n\r\n", "GET", "/anything?x=1", "/anything",
         "x=1", "HTTP/1.1"},
        {"HEAD / HTTP/1.1\n\n", "HEAD", "/", "/", "", "HTTP/1.1"},
        {"GET /a b HTTP/1.1\r\n\r\n", "GET", "/a b", "/a b", "", "HTTP/1.1"},
        {"GET HTTP/1.1\r\n\r\n", "GET", "", "", "", "HTTP/1.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        const HttpRequestParser parser = parseWhole(c.request);
        ASSERT_EQ(parser.status(), Status::Complete);
        EXPECT_EQ(parser.request().command, c.command);
        EXPECT_EQ(parser.request().target, c.target);
        EXPECT_EQ(parser.request().document, c.document);
        EXPECT_EQ(parser.request().params, c.params);
        EXPECT_EQ(parser.request().version, c.version);
    }
}

TEST(HttpRequestParser, SplitAnywhereGivesTheSameRequest) {
    const QByteArray request = "POST /x?y=2 HTTP/1.1\r\nHost: box:80\r\nCookie: c=1\r\n"
                               "Content-Length: 5\r\n   \r\nhello";
    for (qsizetype cut = 0; cut <= request.size(); ++cut) {
        HttpRequestParser parser;
        const Status first = parser.feed(request.left(cut));
        if (cut < request.size()) {
            EXPECT_EQ(first, Status::Incomplete) << cut;
        }
        EXPECT_EQ(parser.feed(request.mid(cut)), Status::Complete) << cut;
        EXPECT_EQ(parser.request().host, "box:80");
        EXPECT_EQ(parser.request().cookie, "c=1");
        EXPECT_EQ(parser.request().params, "y=2");
    }
    HttpRequestParser byteByByte;
    for (char c : request)
        byteByByte.feed(&c, 1);
    EXPECT_EQ(byteByByte.status(), Status::Complete);
}

TEST(HttpRequestParser, RefusesWhatGetsNoAnswer) {
    struct Case {
        QByteArray request;
        Fault fault;
    } cases[] = {
        {"GET\r\n\r\n", Fault::NoVersion},
        {"\r\n", Fault::NoVersion},
        {"PUT / HTTP/1.1\r\n\r\n", Fault::UnknownCommand},
        {"OPTIONS * HTTP/1.1\r\n\r\n", Fault::UnknownCommand},
        {"GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n", Fault::UnsupportedAuthorisation},
        {"GET / HTTP/1.1\r\nAuthorization:\r\n\r\n", Fault::UnsupportedAuthorisation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        const HttpRequestParser parser = parseWhole(c.request);
        EXPECT_EQ(parser.status(), Status::Bad);
        EXPECT_EQ(parser.fault(), c.fault);
    }
}

TEST(HttpRequestParser, DecodesBasicCredentialsInAnyLetterCase) {
    const HttpRequestParser parser = parseWhole("GET / HTTP/1.1\r\nauthorization: bAsIc " +
                                                QByteArray("root:pass").toBase64() + "\r\n\r\n");
    ASSERT_EQ(parser.status(), Status::Complete);
    EXPECT_EQ(parser.request().authUser, "root");
    EXPECT_EQ(parser.request().authPassword, "pass");
}

TEST(HttpRequestParser, BodyRulesAndEarlyClose) {
    // GET without a length: complete at the empty line.
    EXPECT_EQ(parseWhole("GET / HTTP/1.0\r\n\r\n").status(), Status::Complete);
    // A length holding no number counts as absent.
    EXPECT_EQ(parseWhole("GET / HTTP/1.0\r\nContent-Length: -3\r\n\r\n").status(),
              Status::Complete);
    // A length makes it wait for exactly that many bytes.
    HttpRequestParser sized;
    EXPECT_EQ(sized.feed("GET / HTTP/1.0\r\nContent-Length: 4\r\n\r\nabc"), Status::Incomplete);
    EXPECT_EQ(sized.feed("d and more"), Status::Complete);
    // POST without a length runs until the client closes.
    HttpRequestParser toClose;
    EXPECT_EQ(toClose.feed("POST / HTTP/1.0\r\n\r\nsome body"), Status::Incomplete);
    EXPECT_EQ(toClose.finish(), Status::Complete);
    // Closing before the request is complete is not a request.
    HttpRequestParser early;
    early.feed("GET / HTTP/1.0\r\nHost: x\r\n");
    EXPECT_EQ(early.finish(), Status::Bad);
    EXPECT_EQ(early.fault(), Fault::ClosedEarly);
    HttpRequestParser shortBody;
    shortBody.feed("POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc");
    EXPECT_EQ(shortBody.finish(), Status::Bad);
}

TEST(HttpRequestParser, RequestLineCapHoldsWithoutBufferingTheFlood) {
    const QByteArray target(HttpRequestParser::kMaxRequestLine - 14, 'a');
    EXPECT_EQ(parseWhole("GET /" + target + " HTTP/1.1\r\n\r\n").status(), Status::Complete)
        << "a line of exactly the cap is fine";
    EXPECT_EQ(parseWhole("GET /" + target + "a HTTP/1.1\r\n\r\n").fault(),
              Fault::RequestLineTooLong);

    HttpRequestParser flood;
    const QByteArray chunk(64 * 1024, 'A');
    std::size_t largest = 0;
    for (int i = 0; i < 16 && flood.status() == Status::Incomplete; ++i) {
        flood.feed(chunk);
        largest = std::max(largest, flood.bufferedBytes());
    }
    EXPECT_EQ(flood.fault(), Fault::RequestLineTooLong);
    EXPECT_LE(largest, HttpRequestParser::kMaxRequestLine + 2);
    // The refusal comes as soon as the cap is passed, not at the line end.
    HttpRequestParser early;
    EXPECT_EQ(early.feed(QByteArray(HttpRequestParser::kMaxRequestLine + 3, 'A')), Status::Bad);
}

TEST(HttpRequestParser, HeaderBlockCaps) {
    QByteArray hundred = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < HttpRequestParser::kMaxHeaderLines; ++i)
        hundred += "X-" + QByteArray::number(i) + ": v\r\n";
    EXPECT_EQ(parseWhole(hundred + "\r\n").status(), Status::Complete);
    EXPECT_EQ(parseWhole(hundred + "X-last: v\r\n\r\n").fault(), Fault::TooManyHeaderLines);

    const QByteArray big = "X-Big: " + QByteArray(40 * 1024, 'b') + "\r\n";
    EXPECT_EQ(parseWhole("GET / HTTP/1.1\r\n" + big + "\r\n").status(), Status::Complete);
    HttpRequestParser tooBig;
    tooBig.feed("GET / HTTP/1.1\r\n" + big);
    EXPECT_EQ(tooBig.feed(big), Status::Bad) << "refused before the second line ends";
    EXPECT_EQ(tooBig.fault(), Fault::HeaderBlockTooLarge);
}

TEST(HttpResponse, HeaderBytesForBothAnswers) {
    HttpResponseInfo file;
    file.contentLength = 1234;
    EXPECT_EQ(file.takeHeader(), "HTTP/1.1 200 OK\r\nServer: stbmate-http/1.0\r\n"
                                 "Content-Type: text/html\r\nContent-Length: 1234\r\n\r\n");
    EXPECT_TRUE(file.takeHeader().isNull()) << "the header goes out once";

    HttpResponseInfo failure;
    failure.setStatus(500);
    failure.contentText = QStringLiteral("Datei /x kann nicht geöffnet werden").toUtf8();
    EXPECT_EQ(failure.takeHeader(),
              "HTTP/1.1 500 Interner Server-Fehler\r\nServer: stbmate-http/1.0\r\n"
              "Content-Type: text/html\r\nContent-Length: " +
                  QByteArray::number(failure.contentText.size()) + "\r\n\r\n");

    HttpResponseInfo replaced;
    replaced.setHeader("Content-Type", "x/y");
    replaced.setHeader("X-A", "1");
    EXPECT_EQ(replaced.takeHeader(), "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-A: 1\r\n"
                                     "Server: stbmate-http/1.0\r\n\r\n")
        << "a line set again keeps its place; no length when none is known";
}

} // namespace
