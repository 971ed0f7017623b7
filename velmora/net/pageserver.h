// PageServer: a small HTTP/1.1 server for a live view, on the library's own
// block sockets (TTCPBlockSocket listen and accept).
//
// It serves a few fixed pages from memory, one Server-Sent Events stream
// and a few POST handlers, and nothing else:
//   GET  <page path>    the page's bytes (200), HEAD the same without them
//   GET  <event path>   text/event-stream: every Publish() from then on
//   POST <post path>    the handler's status and text (the body is bounded)
//   anything else       404 (unknown path), 405 (known path, other method),
//                       400 (unparseable request), 414 (request line too
//                       long), 431 (head too long), 408 (head not complete
//                       within the time-out), 411/413 (POST body length)
// Every answer but the event stream closes the connection.
//
// Threads and contracts:
// - One acceptor thread, and one thread per connection, which reads the
//   request and, for the event stream, writes the queued events.
// - Publish() is for the thread that produces events (a GUI thread).  It
//   never waits on a client: it formats the event once and appends a shared
//   reference to every client's queue under that client's lock.  A client
//   whose queue already holds `queue_limit` events is dropped (its socket
//   shut down, so a writer blocked in a send returns); a client that closed
//   its side is noticed by its writer (a failed send, or end of stream seen
//   while idle) and removed.
// - Handlers run on the connection's thread, never on the publisher's.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora::net {

class TTCPBlockSocket;

struct PageServerOptions {
  std::string bind_ip = "127.0.0.1";  // loopback unless the caller says otherwise
  std::string port = "0";             // "0": a free port chosen by the system
  size_t queue_limit = 50;            // events queued per client before it is dropped
  size_t send_buffer = 64 * 1024;     // the system's send buffer per connection
  size_t max_request_line = 2048;     // bytes of the request line
  size_t max_head = 8192;             // bytes of the whole request head
  size_t max_body = 4096;             // bytes of a POST body
  int32_t request_timeout_ms = 5000;  // for the whole head (and body) to arrive
  int32_t keepalive_ms = 5000;        // an idle event stream gets a comment this often
};

// The reply of a POST handler.
struct PageReply {
  int status = 204;
  std::string text;  // sent as text/plain when not empty
};

struct PageServerStats {
  uint64_t accepted = 0;      // connections accepted
  uint64_t streams = 0;       // event streams opened
  uint64_t dropped = 0;       // event streams dropped for a full queue
  uint64_t disconnected = 0;  // event streams that ended from the client's side
  uint64_t bad_requests = 0;  // answers 400, 404, 405, 408, 411, 413, 414, 431
  size_t clients = 0;         // event streams open now
};

class PageServer {
 public:
  using PostHandler = std::function<PageReply(const std::string& body)>;

  explicit PageServer(PageServerOptions options = {});
  // Stops the server and joins every thread.
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Set up before Start().
  void AddPage(const std::string& path, const std::string& content_type, std::string body);
  void SetEventPath(const std::string& path) { event_path_ = path; }
  void AddPost(const std::string& path, PostHandler handler);

  // Binds, listens and starts accepting.  Returns "" or one line naming the
  // address and the reason it could not listen.
  std::string Start();
  // The port listened on (after Start()).
  int Port() const { return port_; }
  // Closes the listener and every connection, and joins the threads.
  void Stop();

  // Queues one event for every open event stream:
  //   event: <name>\ndata: <data>\n\n
  // `data` must be one line (JSON is).
  void Publish(std::string_view name, std::string_view data);
  PageServerStats Stats() const;

 private:
  struct Client;
  struct Page {
    std::string content_type;
    std::string body;
  };

  void AcceptLoop();
  void Serve(std::shared_ptr<Client> client);
  void StreamEvents(const std::shared_ptr<Client>& client, TTCPBlockSocket& sock);
  void Answer(TTCPBlockSocket& sock, int status, const std::string& content_type,
              const std::string& body, bool head_only = false);
  void Refuse(TTCPBlockSocket& sock, int status);
  void ReapFinished();

  PageServerOptions options_;
  std::map<std::string, Page> pages_;
  std::map<std::string, PostHandler> posts_;
  std::string event_path_;
  int port_ = 0;

  std::unique_ptr<TTCPBlockSocket> listener_;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};

  // Every connection; its thread removes it (and closes its socket) under
  // this lock, so a publisher holding it may shut the socket down safely.
  mutable std::mutex clients_mutex_;
  std::list<std::shared_ptr<Client>> connections_;

  std::atomic<uint64_t> accepted_{0}, streams_{0}, dropped_{0}, disconnected_{0}, bad_{0};
};

// The reason phrase of a status code the server sends ("Not Found").
std::string_view StatusText(int status);

}  // namespace velmora::net
