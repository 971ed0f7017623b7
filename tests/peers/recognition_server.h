// A speech-recognition service of the tests' own (recognition_server.py under
// /usr/bin/python3) on a loopback port, over HTTPS with the test CA's server
// certificate or over plain HTTP.  It checks the multipart request, decodes
// the FLAC with flac, and answers canned replies or what PocketSphinx heard.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/peers/peers.h"
#include "tests/peers/tls_peers.h"

namespace velmora::testing {

class RecognitionServer {
 public:
  // Answers `replies` in order, one per request (the last one repeats);
  // "<close>" closes the connection without an answer, "<empty>" answers
  // with an empty body.  `pki` null: plain HTTP.
  static std::unique_ptr<RecognitionServer> Canned(const TempDir& dir, const TestPki* pki,
                                                   const std::vector<std::string>& replies);
  // Recognises the posted speech with pocketsphinx_continuous (English
  // model) and answers its hypothesis with status 0, or status 5.
  static std::unique_ptr<RecognitionServer> Sphinx(const TempDir& dir, const TestPki* pki);

  int port() const { return process_->port(); }
  // "https://127.0.0.1:PORT" + path and query (http without a PKI).
  std::string Url(const std::string& path_and_query) const;
  // The requests answered so far, 1, 2, ...
  int Requests() const;
  // What request n left: "head" (request line and headers), "body",
  // "flac", "raw" (decoded 8-bit samples), "check" ("ok" or the problems),
  // "reply", "hypothesis"; "" when there is no such file.
  std::string Request(int n, const std::string& what) const;
  std::string Log() const { return process_->Log(); }

 private:
  RecognitionServer(const TempDir& dir, const TestPki* pki, const std::string& mode,
                    const std::vector<std::string>& replies);

  std::string dir_;
  bool tls_ = false;
  std::unique_ptr<PeerProcess> process_;
};

}  // namespace velmora::testing
