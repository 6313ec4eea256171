#include "listing/record/readable_fields.h"

#include "INCLUDE_U/text.h"
#include "listing/record/readable_text.h"

namespace {

// A decoded word may hold a line end, which would split the record: it becomes a
// space, as the line ends of a folded header do.
void blank_line_ends(std::string& text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
  }
}

// Whether decoding would give the text back as it is: no encoded word, no line
// end, and valid UTF-8 throughout, as a name with an accent mostly is.
bool decodes_to_itself(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '\r' || c == '\n' || c == '\0') return false;
      if (c == '=' && i + 1 < text.size() && text[i + 1] == '?') return false;
      ++i;
      continue;
    }
    std::size_t length = well_formed_utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Whether the readable form of `text` is the text itself.
bool reads_as_it_is(std::string_view text, readable_form form) {
  if (!needs_decoding(text)) return true;
  return form == readable_form::decoded && decodes_to_itself(text);
}

// Cuts `room` between characters at `capacity`, with the entries whose head is
// still whole: a head cut short is text of the entry before it.
void cut_entries(readable_entries& room, std::size_t capacity) {
  std::size_t cut = utf8_prefix_length(room.text, capacity);
  room.text.resize(cut);
  while (!room.places.empty() && room.places.back().text > cut) room.places.pop_back();
}

}  // namespace

entries_view readable_entries_of(const entry_field& field, readable_form form,
                                 std::string_view charset, readable_entries& room,
                                 readable_work& decoding) {
  entries_view raw = view_of(field);
  if (form == readable_form::as_is || reads_as_it_is(raw.text, form)) return raw;
  room.text.clear();
  room.places.clear();
  // Each entry on its own: whether its bytes are UTF-8 already is decided per
  // header line, as a mail reader decides it.
  visit_entries(raw, [&](const field_entry& entry) {
    std::size_t head = room.text.size();
    room.text.append(entry.head);
    std::size_t start = room.text.size();
    if (entry.numbered && start <= k_field_capacity) {
      room.places.push_back(
          {static_cast<uint16_t>(head), static_cast<uint16_t>(start), entry.number});
    }
    if (form == readable_form::decoded)
      append_readable_text(room.text, entry.text, charset, decoding);
    else
      append_valid_utf8(room.text, entry.text);
    blank_line_ends(room.text, start);
    room.text.append(entry.padding);
  });
  if (form == readable_form::made_valid && room.text == raw.text) return raw;
  cut_entries(room, field.text.capacity);
  return {room.text, room.places.data(), room.places.size()};
}

std::string_view readable_text_of(std::string_view text, std::size_t capacity, std::string& room) {
  if (!needs_decoding(text)) return text;
  room.clear();
  append_valid_utf8(room, text);
  blank_line_ends(room, 0);
  if (room == text) return text;
  room.resize(utf8_prefix_length(room, capacity));
  return room;
}
