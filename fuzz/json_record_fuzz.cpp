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
#include "listing/record/readable_fields.h"
#include "listing/record/record.h"
#include "listing/record/record_json.h"
#include "platform/platform.h"

namespace {

// The member `name` of `object`; the fuzzer stops when it is missing.
const json_value& member(const json_value& object, std::string_view name) {
  for (std::size_t i = 0; i < object.names.size(); ++i) {
    if (object.names[i] == name) return object.items[i];
  }
  std::abort();
}

// An entry field's array against the entries the field shows.
void check_entries(const json_value& array, entries_view field) {
  if (array.type != json_value::kind::array) std::abort();
  std::size_t i = 0;
  visit_entries(field, [&](const field_entry& entry) {
    if (i >= array.items.size()) std::abort();
    const json_value& item = array.items[i++];
    if (member(item, "text").text != entry.text) std::abort();
    const json_value& n = member(item, "n");
    if (!entry.numbered) {
      if (n.type != json_value::kind::null) std::abort();
    } else if (n.text != (entry.number == k_body_entry ? "body" : std::to_string(entry.number))) {
      std::abort();
    }
  });
  if (i != array.items.size()) std::abort();
}

// The field's entries from `word`: one per piece between \x01 bytes, a body entry
// after a \x02.
void fill_entries(entry_field& field, std::string_view word) {
  clear_entries(field);
  int counter = 1;
  while (true) {
    std::size_t cut = word.find_first_of("\x01\x02");
    bool body = cut != std::string_view::npos && word[cut] == '\x02';
    append_entry_head(field, counter, false);
    field.text.append(word.substr(0, cut));
    field.text.append("  ");
    if (cut == std::string_view::npos) return;
    word.remove_prefix(cut + 1);
    if (body) {
      append_entry_head(field, counter, true);
      field.text.append("x  ");
    }
  }
}

}  // namespace

// The input is the file's name, then the texts of the fields, the Message-ID and
// the Date-Time's time, each after a NUL; the name's first byte picks the columns.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz_reset();
  scan_options options;
  options.message_id = (data[0] & 1) != 0;
  options.sent_utc = (data[0] & 2) != 0;
  options.mailbox = (data[0] & 4) != 0;
  options.utf = options.json = true;
  choose_record_form(options);
  std::vector<std::string> words = fuzz_words(data, size);
  words.resize(14);
  static message_fields fields;
  reset_message_fields(fields);
  entry_field message_fields::*const texts[] = {
      &message_fields::from,     &message_fields::to,           &message_fields::cc,
      &message_fields::bcc,      &message_fields::date,         &message_fields::forward_date,
      &message_fields::subject,  &message_fields::message_read, &message_fields::attachment_info,
      &message_fields::recent_ip};
  for (std::size_t i = 0; i < std::size(texts); ++i) fill_entries(fields.*texts[i], words[1 + i]);
  fields.message_id.assign(words[11]);
  fields.date_time = parsed_date{2024, 1 + data[0] % 12, 1 + data[0] % 28, {}, {}};
  fields.date_time.time_text.assign(words[12]);

  file_hashes hashes;
  message_place place{static_cast<int64_t>(size), static_cast<int64_t>(data[0]) << 40};
  static record_writer writer;
  std::string line;
  writer.held = &line;
  write_record_prefix(writer, stdout, options, words[0], static_cast<int64_t>(size), file_dates{});
  write_record_end(writer, stdout, options, {&fields, &place, &hashes});
  writer.held = nullptr;
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) std::abort();
  json_value record;
  if (!parse_strict_json(std::string_view(line).substr(0, line.size() - 1), record)) std::abort();
  if (record.type != json_value::kind::object) std::abort();
  std::string name;
  append_valid_utf8(name, words[0]);
  if (member(record, "file").text != name) std::abort();
  static constexpr std::string_view k_entry_members[] = {
      "from",     "to", "cc", "bcc", "date", "forward_date", "subject", "", "attachment_info",
      "recent_ip"};
  static readable_entries room;
  static readable_work decoding;
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    if (k_entry_members[i].empty()) continue;  // the read flag is written without its head
    readable_form form = k_entry_members[i] == "recent_ip" ? readable_form::made_valid
                                                            : readable_form::decoded;
    check_entries(member(record, k_entry_members[i]),
                  readable_entries_of(fields.*texts[i], form, fields.charset.view(), room,
                                      decoding));
  }
  if (options.message_id) {
    const json_value& id = member(record, "message_id");
    if (fields.message_id.empty() != (id.type == json_value::kind::null)) std::abort();
  }
  if (options.mailbox) {
    if (member(record, "offset").text != std::to_string(place.offset)) std::abort();
  }
  return 0;
}
