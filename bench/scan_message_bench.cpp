// scan_message alone, on messages served from memory: the cost of the header
// scan per byte, without the file system. The listing and the progress lines go
// to /dev/null through buffered streams, as they do in a run with -o.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/select_file.h"
#include "listing/new_do_eml.h"
#include "platform/platform.h"
#include "listing/eml_program.h"
#include "settings/run_settings.h"

namespace {

std::string_view s_message;
std::size_t s_offset = 0;

read_handle open_served(const std::string&) {
  s_offset = 0;
  return 1;
}

int64_t read_served(read_handle, void* buffer, int64_t size) {
  std::size_t take = s_message.size() - s_offset;
  if (take > static_cast<std::size_t>(size)) take = static_cast<std::size_t>(size);
  std::memcpy(buffer, s_message.data() + s_offset, take);
  s_offset += take;
  return static_cast<int64_t>(take);
}

void close_served(read_handle) {}

// Settings of a plain run, the platform serving messages from memory, the
// listing and the progress lines to /dev/null through buffered streams.
void prepare_run() {
  static char listing_buffer[1 << 16];
  static char progress_buffer[1 << 14];
  static std::FILE* listing = nullptr;
  if (!listing) {
    listing = std::fopen("/dev/null", "w");
    std::setvbuf(listing, listing_buffer, _IOFBF, sizeof listing_buffer);
    // The benchmark's own report goes to standard output.
    if (std::freopen("/dev/null", "w", stderr)) {
      std::setvbuf(stderr, progress_buffer, _IOFBF, sizeof progress_buffer);
    }
  }
  create_run_settings();
  g_out_file = listing;
  g_msg_file = stderr;
  g_platform = native_platform();
  g_platform.open_for_reading = open_served;
  g_platform.read_bytes = read_served;
  g_platform.close_file = close_served;
}

constexpr const char* k_words[] = {
    "the",      "message", "review", "archive", "meeting", "please",  "attached", "report",
    "weekly",   "numbers", "thanks", "regards", "project", "server",  "update",   "schedule",
    "contract", "draft",   "budget", "office",  "monday",  "forward", "question", "answer"};

// A line of prose about `width` characters long.
std::string prose_line(std::mt19937& random, std::size_t width) {
  std::string line;
  while (line.size() < width) {
    if (!line.empty()) line += ' ';
    line += k_words[random() % std::size(k_words)];
  }
  return line;
}

std::string common_headers() {
  return "Received: from mx1.example.net (mx1.example.net [192.0.2.10])\r\n"
         "\tby relay.example.org (Postfix) with ESMTP id 4F2A1C0;\r\n"
         "\tMon, 12 Mar 2012 14:05:33 -0400 (EDT)\r\n"
         "From: Ann Lee <ann@example.org>\r\n"
         "To: Bob Roe <bob@example.org>,\r\n"
         "\tCarl Poe <carl@example.org>\r\n"
         "Subject: Weekly numbers\r\n"
         "Date: Mon, 12 Mar 2012 14:05:33 -0400\r\n"
         "Message-ID: <20120312180533.4F2A1C0@relay.example.org>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b1_5e1f\"\r\n"
         "X-Mozilla-Status: 0001\r\n"
         "\r\n";
}

// Mostly header lines: a long chain of Received lines, address lists, signatures.
std::string header_heavy_message() {
  std::string m;
  for (int i = 0; i < 40; ++i) {
    m += "Received: from host" + std::to_string(i) + ".example.net (host" + std::to_string(i) +
         ".example.net [198.51.100." + std::to_string(i) + "])\r\n";
    m += "\tby mx" + std::to_string(i) + ".example.org with ESMTPS id x" +
         std::to_string(i * 7919) + "; Mon, 12 Mar 2012 14:05:33 -0400\r\n";
    m += "X-Spam-Status: No, score=-2.6 required=5.0 tests=BAYES_00,DKIM_SIGNED=0.1\r\n";
    m += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.org; s=mail;\r\n";
  }
  m += common_headers();
  m += "Short body.\r\n";
  return m;
}

// A long body as mail carries it: prose with the odd ':' (times, links, "Note:"),
// quoted replies, a quoted-printable part and a base64 attachment.
std::string body_heavy_message() {
  std::mt19937 random(20120312);
  std::string m = common_headers();
  m += "--b1_5e1f\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  for (int i = 0; i < 6000; ++i) {
    std::string line = prose_line(random, 60 + random() % 15);
    switch (random() % 12) {
      case 0:
        line = "Note: " + line;
        break;
      case 1:
        line += " at 10:30";
        break;
      case 2:
        line += " https://www.example.org/archive/" + std::to_string(i);
        break;
      case 3:
        line = "> " + line;
        break;
      default:
        break;
    }
    m += line + "\r\n";
  }
  m += "--b1_5e1f\r\nContent-Type: text/html; charset=utf-8\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  for (int i = 0; i < 2000; ++i) {
    m += "<p style=3D\"margin:0\">" + prose_line(random, 40) + " caf=C3=A9 " + "=\r\n";
  }
  m += "--b1_5e1f\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
       "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
       "Content-Transfer-Encoding: base64\r\n\r\n";
  const char* k_base64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 6000; ++i) {
    std::string line;
    for (int j = 0; j < 76; ++j) line += k_base64[random() % 64];
    m += line + "\r\n";
  }
  m += "--b1_5e1f--\r\n";
  return m;
}

// The files under MAILSIFT_BENCH_CORPUS (a real collection), each read into memory.
std::vector<std::string> corpus_messages() {
  std::vector<std::string> messages;
  const char* root = std::getenv("MAILSIFT_BENCH_CORPUS");
  if (!root) return messages;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    messages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return messages;
}

void scan(benchmark::State& state, const std::string& message) {
  prepare_run();
  s_message = message;
  const std::string path = "/bench/message.eml";
  file_dates dates;
  for (auto _ : state) {
    scan_message(path, static_cast<int64_t>(message.size()), dates);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(message.size()));
  state.counters["messages"] = 1;
}

void header_heavy(benchmark::State& state) {
  static const std::string message = header_heavy_message();
  scan(state, message);
}

void body_heavy(benchmark::State& state) {
  static const std::string message = body_heavy_message();
  scan(state, message);
}

// Every message of a real collection in turn: the per-file costs (record,
// progress line, header rules) weigh as they do in a run.
void corpus(benchmark::State& state) {
  static const std::vector<std::string> messages = corpus_messages();
  if (messages.empty()) {
    state.SkipWithError("set MAILSIFT_BENCH_CORPUS to a directory of messages");
    return;
  }
  prepare_run();
  const std::string path = "/bench/message.eml";
  file_dates dates;
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& message : messages) {
      s_message = message;
      scan_message(path, static_cast<int64_t>(message.size()), dates);
      bytes += static_cast<int64_t>(message.size());
    }
  }
  state.SetBytesProcessed(bytes);
  state.counters["messages"] = static_cast<double>(messages.size());
}

}  // namespace

BENCHMARK(header_heavy);
BENCHMARK(body_heavy);
BENCHMARK(corpus);
