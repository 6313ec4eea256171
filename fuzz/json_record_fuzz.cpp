// The JSON record writer over any name and field texts, made readable first as
// the listing makes them: the record must be one line that a strict JSON parser
// reads as one object, and every text in it must read back as the text written.
// A difference stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "listing/readable_fields.h"
#include "listing/readable_text.h"
#include "listing/record_json.h"
#include "settings/run_settings.h"

namespace {

// The member `name` of `object`; the fuzzer stops when it is missing.
const json_value& member(const json_value& object, std::string_view name) {
  for (std::size_t i = 0; i < object.names.size(); ++i) {
    if (object.names[i] == name) return object.items[i];
  }
  std::abort();
}

// An entry field's array against the entries of its text.
void check_entries(const json_value& array, std::string_view field) {
  if (array.type != json_value::kind::array) std::abort();
  std::size_t i = 0;
  for_each_entry(field, [&](const field_entry& entry) {
    if (i >= array.items.size()) std::abort();
    const json_value& item = array.items[i++];
    if (member(item, "text").text != entry.text) std::abort();
    const json_value& n = member(item, "n");
    std::string_view label = entry.label;
    while (label.size() > 1 && label.front() == '0') label.remove_prefix(1);
    if (label.empty() ? n.type != json_value::kind::null : n.text != label) std::abort();
  });
  if (i != array.items.size()) std::abort();
}

}  // namespace

// The input is the file's name, then the texts of the fields, the Message-ID and
// the Date-Time's time, each after a NUL; the name's first byte picks the columns.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz_reset();
  g_settings->msgid = (data[0] & 1) != 0;
  g_settings->sent_utc = (data[0] & 2) != 0;
  std::vector<std::string> words = fuzz_words(data, size);
  words.resize(14);
  static message_fields fields;
  field_text message_fields::*const texts[] = {
      &message_fields::from,     &message_fields::to,           &message_fields::cc,
      &message_fields::bcc,      &message_fields::date,         &message_fields::forward_date,
      &message_fields::subject,  &message_fields::message_read, &message_fields::attachment_info,
      &message_fields::recent_ip};
  for (std::size_t i = 0; i < std::size(texts); ++i) (fields.*texts[i]).assign(words[1 + i]);
  fields.message_id.assign(words[11]);
  fields.date_time = parsed_date{2024, 1 + data[0] % 12, 1 + data[0] % 28, {}};
  fields.date_time.time_text.assign(words[12]);
  static std::string work;
  make_fields_readable(fields, work);
  std::string name;
  append_valid_utf8(name, words[0]);

  file_hashes hashes;
  message_place place{static_cast<int64_t>(size), static_cast<int64_t>(data[0]) << 40};
  std::string line;
  append_json_record_start(line, name, static_cast<int64_t>(size), file_dates{});
  append_json_record_end(line, fields, hashes, (data[0] & 4) ? &place : nullptr);
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) std::abort();
  json_value record;
  if (!parse_strict_json(std::string_view(line).substr(0, line.size() - 1), record)) std::abort();
  if (record.type != json_value::kind::object) std::abort();
  if (member(record, "file").text != name) std::abort();
  static constexpr std::string_view k_entry_members[] = {
      "from",     "to", "cc", "bcc", "date", "forward_date", "subject", "", "attachment_info",
      "recent_ip"};
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    if (k_entry_members[i].empty()) continue;  // the read flag is written without its head
    check_entries(member(record, k_entry_members[i]), (fields.*texts[i]).view());
  }
  std::string_view time = fields.date_time.time_text.view();
  const std::string& date_time = member(record, "date_time").text;
  if (date_time.size() < time.size() || date_time.substr(date_time.size() - time.size()) != time)
    std::abort();
  if (g_settings->msgid) {
    const json_value& id = member(record, "message_id");
    if (fields.message_id.empty() ? id.type != json_value::kind::null
                                  : id.text != fields.message_id.view())
      std::abort();
  }
  if (data[0] & 4) {
    if (member(record, "offset").text != std::to_string(place.offset)) std::abort();
  }
  return 0;
}
