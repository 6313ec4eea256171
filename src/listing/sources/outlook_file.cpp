// The walk over an Outlook data file through libpff's C interface. Every libpff
// object is freed on every road out of the routine that got it; libpff reports
// failures as an error object, whose text becomes the reason.
#include "listing/sources/outlook_file.h"

#include <libpff.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "platform/outlook_open.h"

namespace {

// Properties libpff's headers do not name.
constexpr uint32_t k_sender_smtp_address = 0x5d01;
constexpr uint32_t k_sent_representing_smtp_address = 0x5d02;
constexpr uint32_t k_smtp_address = 0x39fe;
constexpr uint32_t k_internet_message_id = 0x1035;
constexpr uint32_t k_message_class = 0x001a;
constexpr uint32_t k_row_identifier = 0x67f2;  // a contents table row's item identifier

// The innermost message of libpff's error (the cause; the outer ones name only the
// calls that passed it up), freed here.
std::string take_reason(libpff_error_t*& error) {
  if (!error) return "unknown error";
  char text[2048] = {};
  int length = libpff_error_backtrace_sprint(error, text, sizeof text);
  libpff_error_free(&error);
  if (length <= 0) return "unknown error";
  std::string all(text);
  std::size_t end = all.find('\n');
  std::string first = all.substr(0, end);
  while (!first.empty() && (first.back() == '\r' || first.back() == ' ')) first.pop_back();
  return first.empty() ? "unknown error" : first;
}

void drop_error(libpff_error_t*& error) {
  if (error) libpff_error_free(&error);
}

// Frees an item when it leaves its scope.
struct held_item {
  libpff_item_t* item = nullptr;
  held_item() = default;
  held_item(const held_item&) = delete;
  held_item& operator=(const held_item&) = delete;
  ~held_item() {
    if (item) {
      libpff_error_t* error = nullptr;
      libpff_item_free(&item, &error);
      drop_error(error);
    }
  }
};

// Closes and frees the libpff file when it leaves its scope, also when a failed
// allocation of the visitor's ends the walk: the run then ends without it.
struct held_file {
  libpff_file_t* file = nullptr;
  bool opened = false;
  held_file() = default;
  held_file(const held_file&) = delete;
  held_file& operator=(const held_file&) = delete;
  ~held_file() {
    libpff_error_t* error = nullptr;
    if (opened) libpff_file_close(file, &error);
    drop_error(error);
    if (file) libpff_file_free(&file, &error);
    drop_error(error);
  }
};

// CR LF and lone CR as LF.
std::string with_lf_line_ends(const uint8_t* bytes, std::size_t length) {
  std::string text;
  text.reserve(length);
  const char* at = reinterpret_cast<const char*>(bytes);
  const char* end = at + length;
  while (at < end) {
    const char* cr = static_cast<const char*>(std::memchr(at, '\r', end - at));
    text.append(at, (cr ? cr : end) - at);
    if (!cr) break;
    text += '\n';
    at = cr + 1 < end && cr[1] == '\n' ? cr + 2 : cr + 1;
  }
  return text;
}

// A string of `limit` bytes at most, cut where a UTF-8 sequence starts.
void cut_at(std::string& text, std::size_t limit, bool& truncated) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) --end;
  text.resize(end);
  truncated = true;
}

// How much of a text is read: cut at `limit`, and left out above `ceiling`.
struct text_bound {
  std::size_t limit = 0;
  std::size_t ceiling = 0;
};

// A string property's bound: cut at the string bound, left out above the body's.
text_bound string_bound(const outlook_bounds& bounds) { return {bounds.string, bounds.body}; }

// A string read into a buffer of the size libpff gives (end of string included),
// for message, recipient and attachment strings alike. libpff converts a text once
// for its size and again for the text: `size_hint`, a size no smaller than the
// text's (0 when unknown), spares the first.
template <typename size_call, typename text_call>
std::string read_utf8(size_call get_size, text_call get_text, text_bound bound, bool& truncated,
                      size_t size_hint = 0) {
  libpff_error_t* error = nullptr;
  size_t size = 0;
  std::vector<uint8_t> buffer;
  // libpff refuses a buffer smaller than its text, so a text over the bound is read
  // whole only up to a hard ceiling and cut after.
  if (size_hint != 0 && size_hint <= bound.ceiling + 1) {
    buffer.resize(size_hint);
    if (get_text(buffer.data(), size_hint, &error) == 1) size = size_hint;
    drop_error(error);
  }
  if (size == 0) {
    if (get_size(&size, &error) != 1 || size <= 1) {
      drop_error(error);
      return {};
    }
    if (size > bound.ceiling + 1) {
      truncated = true;
      return {};
    }
    buffer.assign(size, 0);
    if (get_text(buffer.data(), size, &error) != 1) {
      drop_error(error);
      return {};
    }
  }
  std::size_t length = 0;
  while (length < size && buffer[length] != 0) ++length;
  std::string text = with_lf_line_ends(buffer.data(), length);
  cut_at(text, bound.limit, truncated);
  return text;
}

std::string message_string(libpff_item_t* message, uint32_t type, text_bound bound,
                           bool& truncated, size_t size_hint = 0) {
  return read_utf8(
      [&](size_t* size, libpff_error_t** error) {
        return libpff_message_get_entry_value_utf8_string_size(message, type, size, error);
      },
      [&](uint8_t* text, size_t size, libpff_error_t** error) {
        return libpff_message_get_entry_value_utf8_string(message, type, text, size, error);
      },
      bound, truncated, size_hint);
}

// The entry of one type in one record set (a recipient, an attachment, the
// message's own set 0), whatever its value type; freed when it leaves its scope.
struct held_entry {
  libpff_record_set_t* set = nullptr;
  libpff_record_entry_t* entry = nullptr;
  held_entry(libpff_item_t* item, int set_index, uint32_t type) {
    libpff_error_t* error = nullptr;
    if (libpff_item_get_record_set_by_index(item, set_index, &set, &error) != 1) {
      drop_error(error);
      set = nullptr;
      return;
    }
    if (libpff_record_set_get_entry_by_type(set, type, 0, &entry,
                                            LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE, &error) != 1) {
      drop_error(error);
      entry = nullptr;
    }
  }
  held_entry(const held_entry&) = delete;
  held_entry& operator=(const held_entry&) = delete;
  ~held_entry() {
    libpff_error_t* error = nullptr;
    if (entry) libpff_record_entry_free(&entry, &error);
    drop_error(error);
    if (set) libpff_record_set_free(&set, &error);
    drop_error(error);
  }
};

// A string of one record set. libpff converts an 8-bit string by the code page
// set for the library (windows-1252 unless set), not the message's.
std::string set_string(libpff_item_t* item, int set, uint32_t type, text_bound bound,
                       bool& truncated) {
  held_entry held(item, set, type);
  if (!held.entry) return {};
  return read_utf8(
      [&](size_t* size, libpff_error_t** error) {
        return libpff_record_entry_get_data_as_utf8_string_size(held.entry, size, error);
      },
      [&](uint8_t* text, size_t size, libpff_error_t** error) {
        return libpff_record_entry_get_data_as_utf8_string(held.entry, text, size, error);
      },
      bound, truncated);
}

// A 32-bit number of one record set; `fallback` when there is none.
uint32_t set_number(libpff_item_t* item, int set, uint32_t type, uint32_t fallback) {
  held_entry held(item, set, type);
  if (!held.entry) return fallback;
  libpff_error_t* error = nullptr;
  uint32_t value = fallback;
  if (libpff_record_entry_get_data_as_32bit_integer(held.entry, &value, &error) != 1) value = fallback;
  drop_error(error);
  return value;
}

// The most bytes the message's text of `type` takes as UTF-8 with its end, by its
// stored size: three a byte of an 8-bit text, three a two of UTF-16; 0 for none.
size_t utf8_size_hint(libpff_item_t* message, uint32_t type) {
  held_entry held(message, 0, type);
  if (!held.entry) return 0;
  libpff_error_t* error = nullptr;
  uint32_t value_type = 0;
  size_t stored = 0;
  if (libpff_record_entry_get_value_type(held.entry, &value_type, &error) != 1 ||
      libpff_record_entry_get_data_size(held.entry, &stored, &error) != 1 || stored == 0) {
    drop_error(error);
    return 0;
  }
  return (value_type == LIBPFF_VALUE_TYPE_STRING_UNICODE ? stored / 2 * 3 : stored * 3) + 1;
}

std::string first_message_string(libpff_item_t* message, std::initializer_list<uint32_t> types,
                                 text_bound bound, bool& truncated) {
  for (uint32_t type : types) {
    std::string text = message_string(message, type, bound, truncated);
    if (!text.empty()) return text;
  }
  return {};
}

// Mail as the peers list it: notes, their reports and kin, meeting requests and
// answers. Posts (IPM.Post, RSS items) are folder notes, not mail, as are
// appointments, contacts, lists, tasks, sticky notes and journal entries.
bool is_message_type(uint8_t type) {
  switch (type) {
    case LIBPFF_ITEM_TYPE_EMAIL:
    case LIBPFF_ITEM_TYPE_EMAIL_SMIME:
    case LIBPFF_ITEM_TYPE_FAX:
    case LIBPFF_ITEM_TYPE_VOICEMAIL:
    case LIBPFF_ITEM_TYPE_SMS:
    case LIBPFF_ITEM_TYPE_MMS:
    case LIBPFF_ITEM_TYPE_MEETING:
    case LIBPFF_ITEM_TYPE_SHARING:
    case LIBPFF_ITEM_TYPE_CONFLICT_MESSAGE:
    case LIBPFF_ITEM_TYPE_TASK_REQUEST:
      return true;
    default:
      return false;
  }
}

void read_recipients(libpff_item_t* message, const outlook_bounds& bounds, outlook_item& out) {
  held_item recipients;
  libpff_error_t* error = nullptr;
  if (libpff_message_get_recipients(message, &recipients.item, &error) != 1) {
    drop_error(error);
    return;
  }
  int count = 0;
  if (libpff_item_get_number_of_record_sets(recipients.item, &count, &error) != 1) {
    drop_error(error);
    return;
  }
  for (int set = 0; set < count; ++set) {
    if (out.recipients.size() >= bounds.table) {
      out.truncated = true;
      break;
    }
    uint32_t type =
        set_number(recipients.item, set, LIBPFF_ENTRY_TYPE_RECIPIENT_TYPE, LIBPFF_RECIPIENT_TYPE_TO);
    if (type < LIBPFF_RECIPIENT_TYPE_TO || type > LIBPFF_RECIPIENT_TYPE_BCC) continue;
    outlook_recipient r;
    r.type = static_cast<outlook_recipient_type>(type);
    text_bound bound = string_bound(bounds);
    r.name = set_string(recipients.item, set, LIBPFF_ENTRY_TYPE_DISPLAY_NAME, bound, out.truncated);
    r.address = set_string(recipients.item, set, k_smtp_address, bound, out.truncated);
    if (r.address.empty()) {
      r.address =
          set_string(recipients.item, set, LIBPFF_ENTRY_TYPE_EMAIL_ADDRESS, bound, out.truncated);
    }
    out.recipients.push_back(std::move(r));
  }
}

void read_attachment_names(libpff_item_t* message, const outlook_bounds& bounds,
                           outlook_item& out) {
  libpff_error_t* error = nullptr;
  int count = 0;
  if (libpff_message_get_number_of_attachments(message, &count, &error) != 1) {
    drop_error(error);
    return;
  }
  for (int index = 0; index < count; ++index) {
    if (out.attachments.size() >= bounds.table) {
      out.truncated = true;
      break;
    }
    held_item attachment;
    if (libpff_message_get_attachment(message, index, &attachment.item, &error) != 1) {
      drop_error(error);
      out.attachments.emplace_back();
      continue;
    }
    std::string name;
    for (uint32_t type : {LIBPFF_ENTRY_TYPE_ATTACHMENT_FILENAME_LONG,
                          LIBPFF_ENTRY_TYPE_ATTACHMENT_FILENAME_SHORT, LIBPFF_ENTRY_TYPE_DISPLAY_NAME}) {
      name = set_string(attachment.item, 0, type, string_bound(bounds), out.truncated);
      if (!name.empty()) break;
    }
    out.attachments.push_back(std::move(name));
  }
}

void read_date(libpff_item_t* message, outlook_item& out) {
  libpff_error_t* error = nullptr;
  uint64_t filetime = 0;
  int found = libpff_message_get_client_submit_time(message, &filetime, &error);
  drop_error(error);
  if (found != 1 || filetime == 0) {
    found = libpff_message_get_delivery_time(message, &filetime, &error);
    drop_error(error);
  }
  if (found == 1 && filetime != 0) {
    out.has_date = true;
    out.date_seconds = outlook_filetime_seconds(filetime);
  }
}

void read_body(libpff_item_t* message, const outlook_bounds& bounds, outlook_item& out) {
  out.body = read_utf8(
      [&](size_t* size, libpff_error_t** error) {
        return libpff_message_get_plain_text_body_size(message, size, error);
      },
      [&](uint8_t* text, size_t size, libpff_error_t** error) {
        return libpff_message_get_plain_text_body(message, text, size, error);
      },
      {bounds.body, bounds.body}, out.truncated,
      utf8_size_hint(message, LIBPFF_ENTRY_TYPE_MESSAGE_BODY_PLAIN_TEXT));
}

// Every fact of one item. False, with the reason, when libpff cannot give even its
// identifier and type; a missing property is only an empty field.
bool read_item(libpff_item_t* item, const std::string& folder, const outlook_bounds& bounds,
               outlook_item& out, std::string& reason) {
  libpff_error_t* error = nullptr;
  out.folder = folder;
  if (libpff_item_get_identifier(item, &out.identifier, &error) != 1) {
    reason = take_reason(error);
    return false;
  }
  uint8_t type = 0;
  if (libpff_item_get_type(item, &type, &error) != 1) {
    reason = take_reason(error);
    return false;
  }
  out.is_message = is_message_type(type);
  if (!out.is_message) return true;
  out.size = set_number(item, 0, LIBPFF_ENTRY_TYPE_MESSAGE_SIZE, 0);
  // A flags value no file stores tells a message without flags apart.
  constexpr uint32_t k_no_flags = 0xffffffff;
  uint32_t flags = set_number(item, 0, LIBPFF_ENTRY_TYPE_MESSAGE_FLAGS, k_no_flags);
  out.has_read_flag = flags != k_no_flags;
  out.read = out.has_read_flag && (flags & LIBPFF_MESSAGE_FLAG_READ) != 0;
  text_bound string = string_bound(bounds);
  out.transport_headers = message_string(
      item, LIBPFF_ENTRY_TYPE_MESSAGE_TRANSPORT_HEADERS, {bounds.headers, bounds.body}, out.truncated,
      utf8_size_hint(item, LIBPFF_ENTRY_TYPE_MESSAGE_TRANSPORT_HEADERS));
  out.sender_name = first_message_string(
      item, {LIBPFF_ENTRY_TYPE_MESSAGE_SENDER_NAME, LIBPFF_ENTRY_TYPE_MESSAGE_SENT_REPRESENTING_NAME},
      string, out.truncated);
  out.sender_address = first_message_string(
      item,
      {k_sender_smtp_address, LIBPFF_ENTRY_TYPE_MESSAGE_SENDER_EMAIL_ADDRESS,
       k_sent_representing_smtp_address, LIBPFF_ENTRY_TYPE_MESSAGE_SENT_REPRESENTING_EMAIL_ADDRESS},
      string, out.truncated);
  out.subject = message_string(item, LIBPFF_ENTRY_TYPE_MESSAGE_SUBJECT, string, out.truncated);
  // A stored subject may open with 0x01 and a character that gives the length of
  // its prefix ("RE: "); the subject itself follows them whole.
  if (out.subject.size() >= 2 && out.subject[0] == '\x01') out.subject.erase(0, 2);
  out.message_id = message_string(item, k_internet_message_id, string, out.truncated);
  read_recipients(item, bounds, out);
  read_date(item, out);
  read_body(item, bounds, out);
  read_attachment_names(item, bounds, out);
  return true;
}

struct walk_state {
  const outlook_visitor& visitor;
  const outlook_bounds& bounds;
  outlook_walk_result& result;
};

void report_failure(walk_state& state, bool is_folder, const std::string& folder, int index,
                    std::string reason) {
  ++state.result.failures;
  if (!state.visitor.failure) return;
  outlook_failure f;
  f.is_folder = is_folder;
  f.folder = folder;
  f.index = index;
  f.reason = std::move(reason);
  state.visitor.failure(state.visitor.context, f);
}

// The message classes that libpff reads as a calendar entry, contact, list, task,
// sticky note, journal entry or post, by their whole names (as libpff compares
// them): items that are no message.
bool is_not_message_class(std::string_view name) {
  static constexpr std::string_view k_classes[] = {
      "IPM.Appointment", "IPM.Contact",      "IPM.Activity", "IPM.DistList", "IPM.StickyNote",
      "IPM.Task",        "IPM.Post",         "IPM.Post.RSS",
      "IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}"};
  return std::find(std::begin(k_classes), std::end(k_classes), name) != std::end(k_classes);
}

// The identifiers of a folder's items that its contents table names by a class
// of no message, sorted. Reading an item's properties takes most of a file's time
// (libpff looks each one up in a list of the file's named properties), and calendar
// entries often outnumber mail: these are passed over unread. Empty when the
// table cannot be read; each item is then read.
std::vector<uint32_t> not_message_identifiers(libpff_item_t* folder, const outlook_bounds& bounds) {
  std::vector<uint32_t> identifiers;
  held_item table;
  libpff_error_t* error = nullptr;
  int rows = 0;
  if (libpff_folder_get_sub_messages(folder, &table.item, &error) != 1 ||
      libpff_item_get_number_of_record_sets(table.item, &rows, &error) != 1) {
    drop_error(error);
    return identifiers;
  }
  for (int row = 0; row < rows; ++row) {
    bool truncated = false;
    std::string name = set_string(table.item, row, k_message_class, {bounds.string, bounds.string},
                                  truncated);
    uint32_t identifier = set_number(table.item, row, k_row_identifier, 0);
    if (identifier != 0 && is_not_message_class(name)) identifiers.push_back(identifier);
  }
  std::sort(identifiers.begin(), identifiers.end());
  return identifiers;
}

// Whether the contents table named the item as no message; its identifier in
// `identifier` then.
bool named_not_message(libpff_item_t* item, const std::vector<uint32_t>& not_messages,
                       uint32_t& identifier) {
  if (not_messages.empty()) return false;
  libpff_error_t* error = nullptr;
  if (libpff_item_get_identifier(item, &identifier, &error) != 1) {
    drop_error(error);
    return false;
  }
  return std::binary_search(not_messages.begin(), not_messages.end(), identifier);
}

// Hands one item over, read unless the contents table named it as no message
// (`not_messages`); false when the visitor ends the walk.
bool hand_over(walk_state& state, libpff_item_t* item, const std::string& folder, int index,
               const std::vector<uint32_t>& not_messages) {
  outlook_item out;
  std::string reason;
  if (named_not_message(item, not_messages, out.identifier)) {
    out.folder = folder;
  } else if (!read_item(item, folder, state.bounds, out, reason)) {
    report_failure(state, false, folder, index, std::move(reason));
    return true;
  }
  ++(out.is_message ? state.result.messages : state.result.not_messages);
  if (state.visitor.item && !state.visitor.item(state.visitor.context, out)) {
    state.result.stopped = true;
    return false;
  }
  return true;
}

std::string folder_name(libpff_item_t* folder, const outlook_bounds& bounds) {
  bool truncated = false;
  return read_utf8(
      [&](size_t* size, libpff_error_t** error) {
        return libpff_folder_get_utf8_name_size(folder, size, error);
      },
      [&](uint8_t* text, size_t size, libpff_error_t** error) {
        return libpff_folder_get_utf8_name(folder, text, size, error);
      },
      string_bound(bounds), truncated);
}

std::string joined(const std::string& path, const std::string& name) {
  return path.empty() ? outlook_path_part(name) : path + "/" + outlook_path_part(name);
}

// The folder's messages, then its sub-folders, each the same way. False when the
// visitor ended the walk.
bool walk_folder(walk_state& state, libpff_item_t* folder, const std::string& path, int depth) {
  libpff_error_t* error = nullptr;
  int messages = 0;
  if (libpff_folder_get_number_of_sub_messages(folder, &messages, &error) != 1) {
    report_failure(state, true, path, 0, take_reason(error));
    messages = 0;
  }
  std::vector<uint32_t> not_messages;
  if (messages > 0) not_messages = not_message_identifiers(folder, state.bounds);
  for (int index = 0; index < messages; ++index) {
    held_item message;
    if (libpff_folder_get_sub_message(folder, index, &message.item, &error) != 1) {
      report_failure(state, false, path, index, take_reason(error));
      continue;
    }
    if (!hand_over(state, message.item, path, index, not_messages)) return false;
  }
  int folders = 0;
  if (libpff_folder_get_number_of_sub_folders(folder, &folders, &error) != 1) {
    report_failure(state, true, path, 0, take_reason(error));
    return true;
  }
  for (int index = 0; index < folders; ++index) {
    held_item sub_folder;
    if (libpff_folder_get_sub_folder(folder, index, &sub_folder.item, &error) != 1) {
      report_failure(state, true, path, index, take_reason(error));
      continue;
    }
    std::string sub_path = joined(path, folder_name(sub_folder.item, state.bounds));
    if (depth + 1 >= k_outlook_depth_limit) {
      report_failure(state, true, sub_path, index, "folders nested too deep");
      continue;
    }
    if (!walk_folder(state, sub_folder.item, sub_path, depth + 1)) return false;
  }
  return true;
}

// The items libpff recovers from deleted and orphan data, after the rest.
void walk_recovered(walk_state& state, libpff_file_t* file) {
  const std::string folder = "(recovered)";
  libpff_error_t* error = nullptr;
  if (libpff_file_recover_items(file, 0, &error) != 1) {
    report_failure(state, true, folder, 0, take_reason(error));
    return;
  }
  int count = 0;
  if (libpff_file_get_number_of_recovered_items(file, &count, &error) != 1) {
    report_failure(state, true, folder, 0, take_reason(error));
    return;
  }
  for (int index = 0; index < count; ++index) {
    held_item item;
    if (libpff_file_get_recovered_item_by_index(file, index, &item.item, &error) != 1) {
      report_failure(state, false, folder, index, take_reason(error));
      continue;
    }
    if (!hand_over(state, item.item, folder, index, {})) return;
  }
}

void walk_open_file(walk_state& state, libpff_file_t* file, bool recover) {
  libpff_error_t* error = nullptr;
  held_item root;
  int found = libpff_file_get_root_folder(file, &root.item, &error);
  if (found != 1) {
    report_failure(state, true, "", 0, found == 0 ? "no root folder" : take_reason(error));
  } else if (!walk_folder(state, root.item, "", 0)) {
    return;
  }
  if (recover) walk_recovered(state, file);
}

}  // namespace

outlook_walk_result walk_outlook_file(const std::string& path, bool recover,
                                      const outlook_visitor& visitor,
                                      const outlook_bounds& bounds) {
  outlook_walk_result result;
  libpff_error_t* error = nullptr;
  held_file held;
  if (libpff_file_initialize(&held.file, &error) != 1) {
    held.file = nullptr;
    result.reason = take_reason(error);
    return result;
  }
  if (open_outlook_file(held.file, path, &error) != 1) {
    result.reason = take_reason(error);
    return result;
  }
  held.opened = result.opened = true;
  walk_state state{visitor, bounds, result};
  walk_open_file(state, held.file, recover);
  return result;
}
