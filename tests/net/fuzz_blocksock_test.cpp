// Random-mutation runs over the readers of the block socket: the line buffer
// against a reference splitter under random packet boundaries, and the SOCKS
// reply readers on random and mutated replies.  Seeded, bounded in time.
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

// Lines of `s` as the socket must cut them: with `convert` every CR LF,
// LF CR, CR and LF ends a line, else only CR LF.  The unfinished tail stays
// in `rest`.
std::vector<std::string> ReferenceLines(const std::string& s, bool convert, std::string& rest) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < s.size()) {
    if (!convert) {
      size_t p = s.find("\r\n", i);
      if (p == std::string::npos) break;
      lines.push_back(s.substr(start, p - start));
      i = start = p + 2;
      continue;
    }
    char c = s[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    lines.push_back(s.substr(start, i - start));
    char other = c == '\r' ? '\n' : '\r';
    i += (i + 1 < s.size() && s[i + 1] == other) ? 2 : 1;
    start = i;
  }
  rest = s.substr(start);
  return lines;
}

struct Pair {
  int fd[2];
  Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
  ~Pair() { ::close(fd[1]); }
};

TEST(BlockSocketFuzz, LinesMatchAReferenceUnderRandomPacketBoundaries) {
  std::mt19937 rng(20240611);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\r', '\n', 'x'};
  for (int run = 0; run < 300; ++run) {
    const bool convert = run % 2 == 0;
    std::string stream;
    size_t length = rng() % 400;
    for (size_t i = 0; i < length; ++i) stream += alphabet[rng() % sizeof alphabet];
    // A CR at the very end may still be joined by an LF that never comes;
    // end the stream with a plain byte so that the reference is unambiguous.
    stream += 'z';

    Pair pair;
    TTCPBlockSocket s;
    s.SetSocket(pair.fd[0]);
    s.set_ConvertLineEnd(convert);
    std::vector<std::string> lines;
    size_t sent = 0;
    while (sent < stream.size()) {
      size_t piece = 1 + rng() % 40;
      if (piece > stream.size() - sent) piece = stream.size() - sent;
      ASSERT_EQ(::send(pair.fd[1], stream.data() + sent, piece, 0), static_cast<ssize_t>(piece));
      sent += piece;
      // Take every line that is complete so far.
      for (;;) {
        std::string line = s.RecvString(0);
        if (s.LastError() != 0) break;
        lines.push_back(line);
      }
      ASSERT_EQ(s.LastError(), 10060) << "run " << run;
    }
    std::string rest;
    std::vector<std::string> expected = ReferenceLines(stream, convert, rest);
    ASSERT_EQ(lines, expected) << "run " << run << " convert " << convert;
    ASSERT_EQ(s.InputBacklog(), rest) << "run " << run;
  }
}

TEST(BlockSocketFuzz, LongDelimitersStraddlingPacketBoundariesAreFound) {
  std::mt19937 rng(31337);
  const std::string delimiter = "xyz";
  const char alphabet[] = {'x', 'y', 'z', 'x', 'a'};
  for (int run = 0; run < 300; ++run) {
    std::string stream;
    size_t length = rng() % 300;
    for (size_t i = 0; i < length; ++i) stream += alphabet[rng() % sizeof alphabet];
    Pair pair;
    TTCPBlockSocket s;
    s.SetSocket(pair.fd[0]);
    std::vector<std::string> lines;
    size_t sent = 0;
    while (sent < stream.size()) {
      size_t piece = 1 + rng() % 7;
      if (piece > stream.size() - sent) piece = stream.size() - sent;
      ASSERT_EQ(::send(pair.fd[1], stream.data() + sent, piece, 0), static_cast<ssize_t>(piece));
      sent += piece;
      for (;;) {
        std::string line = s.RecvTerminated(0, delimiter);
        if (s.LastError() != 0) break;
        lines.push_back(line);
      }
    }
    std::vector<std::string> expected;
    size_t start = 0;
    for (size_t p; (p = stream.find(delimiter, start)) != std::string::npos; start = p + 3)
      expected.push_back(stream.substr(start, p - start));
    ASSERT_EQ(lines, expected) << "run " << run;
    ASSERT_EQ(s.InputBacklog(), stream.substr(start)) << "run " << run;
  }
}

TEST(BlockSocketFuzz, SocksDecodeNeverReadsPastTheReply) {
  std::mt19937 rng(7);
  TTCPBlockSocket s;
  for (int run = 0; run < 20000; ++run) {
    s.set_SocksType(run % 3 == 0 ? ST_Socks4 : ST_Socks5);
    std::string reply(rng() % 40, '\0');
    for (char& c : reply) c = static_cast<char>(rng() % 6 == 0 ? rng() % 5 : rng());
    int32_t pos = s.SocksDecode(reply);
    ASSERT_GE(pos, 0);
    ASSERT_LE(static_cast<size_t>(pos), reply.size() + 1);
  }
}

TEST(BlockSocketFuzz, SocksRepliesOfRandomShapeEndCleanly) {
  std::mt19937 rng(99);
  const std::string good5 = std::string("\x05\x00\x00\x03\x04host\x00\x50", 11);
  const std::string good4 = std::string("\x00\x5a\x00\x50\x01\x02\x03\x04", 8);
  for (int run = 0; run < 400; ++run) {
    const bool four = run % 2 == 1;
    std::string reply = four ? good4 : good5;
    // Mutate: flip, drop or add bytes.
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = reply.empty() ? 0 : rng() % reply.size();
      switch (rng() % 3) {
        case 0:
          if (!reply.empty()) reply[at] = static_cast<char>(rng());
          break;
        case 1:
          if (!reply.empty()) reply.erase(at, 1);
          break;
        default:
          reply.insert(at, 1, static_cast<char>(rng()));
      }
    }
    Pair pair;
    TTCPBlockSocket s;
    s.SetSocket(pair.fd[0]);
    s.set_SocksType(four ? ST_Socks4 : ST_Socks5);
    s.set_SocksTimeout(20);
    ASSERT_EQ(::send(pair.fd[1], reply.data(), reply.size(), 0),
              static_cast<ssize_t>(reply.size()));
    ::shutdown(pair.fd[1], SHUT_WR);
    bool ok = s.SocksResponse();
    if (ok) {
      EXPECT_TRUE(s.SocksReplyCode() == 0 || s.SocksReplyCode() == 90);
      EXPECT_EQ(s.LastError(), 0);
    } else {
      EXPECT_EQ(s.SocksState(), TSocksState::Failed);
    }
  }
}

}  // namespace
}  // namespace velmora::net
