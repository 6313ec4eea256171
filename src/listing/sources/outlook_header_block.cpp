// The header block of an Outlook message that carries no internet headers, built
// from its properties so that the header scan reads it as any other message; and
// the folder path part and date its facts are given in.
#include <cstdio>

#include "INCLUDE_U/dates.h"
#include "listing/sources/outlook_file.h"

namespace {

// "Mon, 12 Mar 2012 14:05:33 +0000".
std::string rfc5322_utc_date(int64_t seconds) {
  static const char* const days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  calendar_time t = utc_calendar_of(seconds);
  int64_t day_count = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int weekday = static_cast<int>(((day_count % 7) + 7) % 7);  // 1 January 1970 was a Thursday
  char text[64];
  int n = std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d +0000", days[weekday],
                        t.day, months[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second);
  return n > 0 ? std::string(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1)
               : std::string();
}

// "Name <address>", or whichever of the two there is.
std::string mailbox_text(const std::string& name, const std::string& address) {
  if (address.empty()) return name;
  if (name.empty() || name == address) return "<" + address + ">";
  return name + " <" + address + ">";
}

void add_line(std::string& block, const char* field, const std::string& value) {
  if (value.empty()) return;
  block += field;
  block += ": ";
  // A value is one line: a line end inside it would start a header of its own.
  for (char c : value) block += (c == '\n' || c == '\r') ? ' ' : c;
  block += '\n';
}

std::string recipients_of(const outlook_item& item, outlook_recipient_type type) {
  std::string list;
  for (const outlook_recipient& r : item.recipients) {
    if (r.type != type) continue;
    std::string one = mailbox_text(r.name, r.address);
    if (one.empty()) continue;
    if (!list.empty()) list += ", ";
    list += one;
  }
  return list;
}

}  // namespace

std::string outlook_header_block(const outlook_item& item) {
  std::string block;
  add_line(block, "From", mailbox_text(item.sender_name, item.sender_address));
  add_line(block, "To", recipients_of(item, outlook_recipient_type::to));
  add_line(block, "Cc", recipients_of(item, outlook_recipient_type::cc));
  add_line(block, "Bcc", recipients_of(item, outlook_recipient_type::bcc));
  if (item.has_date) add_line(block, "Date", rfc5322_utc_date(item.date_seconds));
  add_line(block, "Subject", item.subject);
  add_line(block, "Message-ID", item.message_id);
  block += '\n';
  block += item.body;
  return block;
}

std::string outlook_path_part(const std::string& name) {
  std::string part;
  part.reserve(name.size());
  for (char c : name) {
    part += c;
    if (c == '/') part += '/';
  }
  return part;
}

int64_t outlook_filetime_seconds(uint64_t filetime) {
  constexpr int64_t k_ticks_per_second = 10000000;
  constexpr int64_t k_seconds_1601_to_1970 = 11644473600;
  return static_cast<int64_t>(filetime / k_ticks_per_second) - k_seconds_1601_to_1970;
}
