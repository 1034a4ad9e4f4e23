// The TFTP codec, option negotiation and the per-transfer state machine, driven packet by packet.
#include "net/tftp_packet.h"
#include "net/tftp_transfer.h"
#include "tests/support/memory_source.h"

#include <gtest/gtest.h>

using namespace tftp;
using Options = std::vector<std::pair<std::string, std::string>>;

namespace {

using Clock = TftpTransfer::Clock;
const Clock::time_point t0{};

// Block numbers of the DATA packets in a step, in order.
std::vector<int> blocks(const TftpTransfer::Step& step) {
    std::vector<int> out;
    for (const ByteView d : step.send) {
        EXPECT_EQ(peekOpcode(d), Opcode::Data);
        out.push_back((d[2] << 8) | d[3]);
    }
    return out;
}

TftpTransfer makeTransfer(std::size_t fileSize, std::size_t blockSize, std::uint16_t window,
                          int maxRetries = 2) {
    Negotiated n;
    n.blockSize = blockSize;
    n.windowSize = window;
    return TftpTransfer(n, std::make_unique<MemorySource>(std::string(fileSize, 'x')),
                        {std::chrono::milliseconds(100), maxRetries});
}

} // namespace

TEST(TftpPacket, RequestParsingAndNegotiation) {
    struct Case {
        const char* name;
        Options asked;
        Mode mode;
        Options granted;
        std::size_t blockSize;
        std::uint16_t window;
    };
    const Case cases[] = {
        {"none", {}, Mode::Octet, {}, 512, 1},
        {"blksize+tsize",
         {{"BLKSIZE", "1428"}, {"tsize", "0"}},
         Mode::Octet,
         {{"BLKSIZE", "1428"}, {"tsize", "70000"}},
         1428,
         1},
        {"blksize and window capped, long timeout dropped",
         {{"blksize", "65464"}, {"windowsize", "64"}, {"timeout", "255"}},
         Mode::Octet,
         {{"blksize", "1468"}, {"windowsize", "4"}},
         1468,
         4},
        {"invalid values dropped",
         {{"blksize", "7"}, {"timeout", "0"}, {"windowsize", "x"}},
         Mode::Octet,
         {},
         512,
         1},
        {"timeout as asked, unknown ignored",
         {{"timeout", "5"}, {"multicast", ""}},
         Mode::Octet,
         {{"timeout", "5"}},
         512,
         1},
        {"no tsize in netascii", {{"tsize", "0"}}, Mode::Netascii, {}, 512, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes wire = makeRequest({Opcode::Rrq, "emergency.ub", c.mode, c.asked});
        Request parsed;
        ASSERT_EQ(parseRequest(wire, parsed), ParseStatus::Ok);
        EXPECT_EQ(parsed.fileName, "emergency.ub");
        const Negotiated n = negotiate(parsed, 70000, Limits{});
        EXPECT_EQ(n.oack, c.granted);
        EXPECT_EQ(n.blockSize, c.blockSize);
        EXPECT_EQ(n.windowSize, c.window);
    }
    const std::uint8_t badMode[] = {0, 1, 'f', 0, 'm', 'a', 'i', 'l', 0};
    const std::uint8_t unterminated[] = {0, 1, 'f', 0, 'o', 'c'};
    const std::uint8_t ack[] = {0, 4, 0, 7};
    Request request;
    EXPECT_EQ(parseRequest(badMode, request), ParseStatus::UnknownMode);
    EXPECT_EQ(parseRequest(unterminated, request), ParseStatus::Malformed);
    EXPECT_EQ(parseRequest(ack, request), ParseStatus::Malformed);
    EXPECT_EQ(parseAck(ack), 7);
}

TEST(TftpTransfer, ARequestFromTheClientReplacesOnlyAStalledTransfer) {
    using std::chrono::milliseconds;
    struct Case {
        bool samePort;
        milliseconds sinceProgress;
        milliseconds timeout;
        bool replaces;
    } const cases[] = {
        {true, milliseconds(60000), milliseconds(1000), false}, // the client's own retry
        {false, milliseconds(0), milliseconds(1000), false},    // forged during a healthy run
        {false, milliseconds(999), milliseconds(1000), false},
        {false, milliseconds(1000), milliseconds(1000), true}, // the client gave up on it
        {false, milliseconds(5000), milliseconds(5000), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replacesTransfer(c.samePort, c.sinceProgress, c.timeout), c.replaces)
            << c.samePort << " " << c.sinceProgress.count() << " " << c.timeout.count();
}

TEST(TftpTransfer, DuplicateAckNeverResends) {
    TftpTransfer t = makeTransfer(3 * 512 + 10, 512, 1);
    EXPECT_EQ(blocks(t.start(t0)), std::vector<int>{1});
    // Block 1 resent on time-out; both copies get acknowledged.
    EXPECT_EQ(blocks(t.onTimeout(t0)), std::vector<int>{1});
    EXPECT_EQ(blocks(t.feed(makeAck(1), t0)), std::vector<int>{2});
    EXPECT_TRUE(t.feed(makeAck(1), t0).send.empty());
    EXPECT_TRUE(t.feed(makeAck(9), t0).send.empty()); // never sent
    EXPECT_EQ(blocks(t.feed(makeAck(2), t0)), std::vector<int>{3});
    EXPECT_EQ(blocks(t.feed(makeAck(3), t0)), std::vector<int>{4});
    EXPECT_EQ(t.state(), TftpTransfer::State::Running);
    const auto last = t.feed(makeAck(4), t0);
    EXPECT_TRUE(last.send.empty());
    EXPECT_FALSE(last.deadline);
    EXPECT_EQ(t.state(), TftpTransfer::State::Done);
    EXPECT_EQ(t.bytesAcknowledged(), 3u * 512 + 10);
}

TEST(TftpTransfer, WindowResumesAfterTheLastBlockTheClientHas) {
    TftpTransfer t = makeTransfer(5 * 8, 8, 3); // 5 full blocks and an empty last one
    EXPECT_EQ(blocks(t.start(t0)), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(blocks(t.feed(makeAck(1), t0)), (std::vector<int>{2, 3, 4})); // 2 was lost
    EXPECT_EQ(blocks(t.feed(makeAck(4), t0)), (std::vector<int>{5, 6}));
    EXPECT_TRUE(t.feed(makeAck(3), t0).send.empty());
    t.feed(makeAck(6), t0);
    EXPECT_EQ(t.state(), TftpTransfer::State::Done);
    EXPECT_EQ(t.bytesAcknowledged(), 40u);
}

TEST(TftpTransfer, OneAckNeverBringsBackMoreThanOneWindow) {
    TftpTransfer t = makeTransfer(100 * 8, 8, 4);
    EXPECT_EQ(blocks(t.start(t0)), (std::vector<int>{1, 2, 3, 4}));
    // Every ACK inside the window, as a hostile client sends them: one window each, never
    // more than one window past what was acknowledged (the block read ahead stays unsent);
    // repeated and unsent ones bring nothing.
    for (int ack = 1; ack <= 21; ++ack) {
        t.readAhead();
        const std::vector<int> sent = blocks(t.feed(makeAck(std::uint16_t(ack)), t0));
        EXPECT_EQ(sent, (std::vector<int>{ack + 1, ack + 2, ack + 3, ack + 4}));
        EXPECT_TRUE(t.feed(makeAck(std::uint16_t(ack)), t0).send.empty());
        EXPECT_TRUE(t.feed(makeAck(std::uint16_t(ack + 9)), t0).send.empty());
    }
    EXPECT_EQ(t.bytesAcknowledged(), 21u * 8);
}

TEST(TftpTransfer, BlockNumbersWrapToZero) {
    TftpTransfer t = makeTransfer(65537 * 8 + 1, 8, 1);
    t.start(t0);
    for (int block = 1; block < 65535; ++block)
        ASSERT_EQ(t.feed(makeAck(std::uint16_t(block)), t0).send.size(), 1u);
    EXPECT_EQ(blocks(t.feed(makeAck(65535), t0)), std::vector<int>{0});
    EXPECT_TRUE(t.feed(makeAck(65535), t0).send.empty());
    EXPECT_EQ(blocks(t.feed(makeAck(0), t0)), std::vector<int>{1});
    EXPECT_EQ(blocks(t.feed(makeAck(1), t0)), std::vector<int>{2});
    t.feed(makeAck(2), t0);
    EXPECT_EQ(t.state(), TftpTransfer::State::Done);
    EXPECT_EQ(t.bytesAcknowledged(), 65537u * 8 + 1);
}

TEST(TftpTransfer, Endings) {
    // Options granted: the OACK is resent on time-out until acknowledged with block 0.
    Negotiated n;
    n.oack = {{"tsize", "3"}};
    TftpTransfer withOack(n, std::make_unique<MemorySource>("abc"),
                          {std::chrono::milliseconds(100), 1});
    EXPECT_EQ(peekOpcode(withOack.start(t0).send.at(0)), Opcode::Oack);
    const auto again = withOack.onTimeout(t0 + std::chrono::milliseconds(100));
    EXPECT_EQ(peekOpcode(again.send.at(0)), Opcode::Oack);
    EXPECT_EQ(again.deadline, t0 + std::chrono::milliseconds(200));
    EXPECT_TRUE(withOack.onTimeout(t0).send.empty()); // retries spent: the client is gone
    EXPECT_EQ(withOack.state(), TftpTransfer::State::Failed);

    TftpTransfer aborted = makeTransfer(100, 8, 1);
    aborted.start(t0);
    EXPECT_TRUE(aborted.feed(makeError(ErrorCode::DiskFull, "full"), t0).send.empty());
    EXPECT_EQ(aborted.state(), TftpTransfer::State::Failed);
    EXPECT_NE(aborted.failure().find("full"), std::string::npos);

    TftpTransfer confused = makeTransfer(100, 8, 1);
    confused.start(t0);
    const auto answer = confused.feed(makeData(1, {}), t0);
    EXPECT_EQ(parseError(answer.send.at(0))->first, std::uint16_t(ErrorCode::IllegalOperation));
    EXPECT_EQ(confused.state(), TftpTransfer::State::Failed);
}

TEST(TftpTransfer, NetasciiLineEnds) {
    NetasciiSource source(std::make_unique<MemorySource>("a\nb\rc\n"));
    std::uint8_t out[16] = {};
    std::string got;
    for (std::int64_t n; (n = source.read(out, 3)) > 0;) // odd size splits the pairs
        got.append(reinterpret_cast<char*>(out), std::size_t(n));
    EXPECT_EQ(got, std::string("a\r\nb\r\0c\r\n", 9));
}
