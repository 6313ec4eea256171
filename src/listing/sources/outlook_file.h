// Outlook data files (PST and OST) read through libpff: one walk over a file's
// folders, each item handed over as a plain record, and the header block built
// for a message that carries no internet headers of its own.
//
// libpff is not thread-safe: one file is read by one thread from start to end,
// and nothing of it is shared. Several files may be read on several threads at
// once, each with its own walk.
//
// Memory: one item is held at a time (its strings within the bounds below). libpff
// itself keeps, per open file, a tree of every item's descriptor (built at open,
// so it grows with the number of items) and bounded caches: up to 16384 index
// nodes (512 bytes each in a PST, 4 KB in a 4 KB-page OST), 8189 descriptor and
// 32765 offset index values, 8 items, 8 data arrays, one data block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The recipient types of the recipient table.
enum class outlook_recipient_type { to = 1, cc = 2, bcc = 3 };

struct outlook_recipient {
  outlook_recipient_type type = outlook_recipient_type::to;
  std::string name;     // display name, UTF-8
  std::string address;  // SMTP address where the file has one, else the stored address
};

// One item of a folder, as the file stores it. Strings are UTF-8; each is cut
// at its bound (outlook_bounds).
struct outlook_item {
  std::string folder;        // names below the root folder joined by '/', a '/' in a name doubled
  uint32_t identifier = 0;   // the item identifier libpff and other PST tools name it by
  bool is_message = false;   // IPM.Note and its kin; posts, calendar, contacts, lists, tasks are not
  uint64_t size = 0;         // the message size the file records (0 when it records none)
  std::string transport_headers;  // the internet headers, LF line ends; empty when absent
  std::string sender_name;
  std::string sender_address;
  std::vector<outlook_recipient> recipients;  // in table order
  bool has_date = false;
  int64_t date_seconds = 0;  // client submit time, else delivery time, UTC seconds since 1970
  std::string subject;
  std::string message_id;
  std::string body;          // the plain-text body, LF line ends
  bool has_read_flag = false;  // the message records its flags
  bool read = false;         // the message flags' read bit
  std::vector<std::string> attachments;  // long file name, else short, else display name
  bool truncated = false;    // a string or table was cut at its bound, or a text over
                             // the body's bound left out
};

// Bounds of one item: no file makes the reader hold more than these per item.
// A text longer than the body's bound is left out whole: libpff reads a text only
// into a buffer that holds all of it.
struct outlook_bounds {
  std::size_t string = 64 * 1024;
  std::size_t headers = 1024 * 1024;
  std::size_t body = 16 * 1024 * 1024;
  std::size_t table = 4096;  // recipients, attachments
};
// The folder depth the walk goes down to; deeper folders are reported as failures.
inline constexpr int k_outlook_depth_limit = 64;

// A message or folder that could not be read; the walk goes on after it.
struct outlook_failure {
  bool is_folder = false;
  std::string folder;   // the folder path (of the folder itself, or the message's)
  int index = 0;        // the message's or sub-folder's position in its folder, from 0
  std::string reason;   // libpff's error text
};

// Handed every item and failure in walk order. `item` returns false to end the
// walk there (an interrupt); the walk then returns stopped.
struct outlook_visitor {
  bool (*item)(void* context, const outlook_item& item) = nullptr;
  void (*failure)(void* context, const outlook_failure& failure) = nullptr;
  void* context = nullptr;
};

struct outlook_walk_result {
  bool opened = false;   // false: the file was not read at all, `reason` says why
  bool stopped = false;  // the visitor ended the walk
  std::string reason;
  int64_t messages = 0;      // items handed over as messages
  int64_t not_messages = 0;  // items handed over that are not messages
  int64_t failures = 0;      // messages and folders that could not be read
};

// The folder's name as a part of a path: every '/' doubled.
std::string outlook_path_part(const std::string& name);

// Opens the file at `path` (UTF-8), walks it depth first from the root folder,
// each folder's items before its sub-folders, then, with `recover`, the items
// libpff recovers from deleted and orphan data (folder "(recovered)"), and
// closes it. No visitor call is made when the file cannot be opened.
outlook_walk_result walk_outlook_file(const std::string& path, bool recover,
                                      const outlook_visitor& visitor,
                                      const outlook_bounds& bounds = {});

// Seconds since 1970 of a FILETIME (100 ns ticks since 1601, UTC).
int64_t outlook_filetime_seconds(uint64_t filetime);

// The header block of a message without internet headers, one line each, LF line
// ends: From, To, Cc, Bcc, Date (RFC 5322, UTC, "+0000"), Subject, Message-ID,
// each only when it has a value, then an empty line and the plain-text body.
std::string outlook_header_block(const outlook_item& item);
