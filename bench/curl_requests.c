/* The libcurl peer of the HTTP client's benchmark: COUNT sequential GETs of
 * URL with one easy handle, as a plain C program of its own so that
 * libcurl runs as its users run it.
 *
 *   curl_requests URL COUNT SIZE [--forbid-reuse] [--no-session-cache]
 *                 [--keep-body] [--cainfo FILE]
 *
 * The handle keeps its connection between requests unless --forbid-reuse
 * is given (CURLOPT_FORBID_REUSE: a new connection for each).  libcurl
 * resumes TLS sessions on new connections; --no-session-cache turns that
 * off (CURLOPT_SSL_SESSIONID_CACHE 0), so that each does a full handshake.
 * --keep-body gathers each body in memory (a block grown with realloc and
 * freed after the request), as a program that downloads into memory does;
 * else the bytes are only counted.  Every reply must be status 200 with
 * exactly SIZE body bytes.  The requests alone are timed (not the start of
 * the process, curl_global_init nor freeing a kept body), and one line is
 * printed on success:
 *
 *   requests COUNT seconds ELAPSED rate PER_SECOND
 *
 * Exit status 0 on success, 1 when a request fails (its error on stderr),
 * 2 for bad usage. */
#include <curl/curl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct Body {
  long long received;
  int keep;
  char* data;
  size_t capacity;
};

static size_t TakeBytes(char* data, size_t size, size_t count, void* user) {
  struct Body* body = user;
  const size_t n = size * count;
  if (body->keep) {
    const size_t need = (size_t)body->received + n;
    if (need > body->capacity) {
      size_t capacity = body->capacity ? body->capacity * 2 : 65536;
      while (capacity < need) capacity *= 2;
      char* grown = realloc(body->data, capacity);
      if (grown == NULL) return 0; /* fails the transfer */
      body->data = grown;
      body->capacity = capacity;
    }
    memcpy(body->data + body->received, data, n);
  }
  body->received += (long long)n;
  return n;
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int Usage(void) {
  fprintf(stderr,
          "usage: curl_requests URL COUNT SIZE [--forbid-reuse] [--no-session-cache] "
          "[--keep-body] [--cainfo FILE]\n");
  return 2;
}

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const char* url = argv[1];
  char* end = NULL;
  long count = strtol(argv[2], &end, 10);
  if (*end != '\0' || count <= 0) return Usage();
  long long size = strtoll(argv[3], &end, 10);
  if (*end != '\0' || size < 0) return Usage();
  int forbid_reuse = 0;
  int session_cache = 1;
  struct Body body = {0, 0, NULL, 0};
  const char* cainfo = NULL;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--forbid-reuse") == 0)
      forbid_reuse = 1;
    else if (strcmp(argv[i], "--keep-body") == 0)
      body.keep = 1;
    else if (strcmp(argv[i], "--no-session-cache") == 0)
      session_cache = 0;
    else if (strcmp(argv[i], "--cainfo") == 0 && i + 1 < argc)
      cainfo = argv[++i];
    else
      return Usage();
  }

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    fprintf(stderr, "curl_requests: curl_global_init failed\n");
    return 1;
  }
  CURL* curl = curl_easy_init();
  if (curl == NULL) {
    fprintf(stderr, "curl_requests: curl_easy_init failed\n");
    return 1;
  }
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  if (cainfo != NULL) curl_easy_setopt(curl, CURLOPT_CAINFO, cainfo);
  if (forbid_reuse) curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  if (!session_cache) curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);

  int status = 0;
  double elapsed = 0; /* the transfers, not the freeing of kept bodies */
  for (long i = 0; i < count; ++i) {
    body.received = 0;
    const double start = Now();
    CURLcode rc = curl_easy_perform(curl);
    elapsed += Now() - start;
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    free(body.data);
    body.data = NULL;
    body.capacity = 0;
    if (rc != CURLE_OK || code != 200 || body.received != size) {
      fprintf(stderr, "curl_requests: request %ld: %s, status %ld, %lld of %lld bytes\n", i + 1,
              curl_easy_strerror(rc), code, body.received, size);
      status = 1;
      break;
    }
  }
  curl_easy_cleanup(curl);
  curl_global_cleanup();
  if (status == 0) printf("requests %ld seconds %.6f rate %.1f\n", count, elapsed, count / elapsed);
  return status;
}
