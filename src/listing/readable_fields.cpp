#include "listing/readable_fields.h"

#include "INCLUDE_U/text.h"
#include "listing/readable_text.h"

namespace {

// A decoded word may hold a line end, which would split the record: it becomes a
// space, as the line ends of a folded header do.
void blank_line_ends(std::string& text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
  }
}

template <std::size_t N>
void assign_cut_between_characters(bounded_text<N>& out, std::string_view text) {
  out.assign(text.substr(0, utf8_prefix_length(text, N)));
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

// Decodes each entry's text on its own: whether its bytes are UTF-8 already is
// decided per header line, as a mail reader decides it.
void decode_field(field_text& field, std::string_view charset, std::string& work,
                  readable_work& decoding) {
  if (!needs_decoding(field.view()) || decodes_to_itself(field.view())) return;
  work.clear();
  for_each_entry(field.view(), [&](const field_entry& entry) {
    work.append(entry.head);
    std::size_t start = work.size();
    append_readable_text(work, entry.text, charset, decoding);
    blank_line_ends(work, start);
    work.append(entry.padding);
  });
  assign_cut_between_characters(field, work);
}

// Text shown as it stands, with what is no UTF-8 made U+FFFD.
template <std::size_t N>
void make_valid(bounded_text<N>& text, std::string& work) {
  if (!needs_decoding(text.view())) return;
  work.clear();
  append_valid_utf8(work, text.view());
  blank_line_ends(work, 0);
  if (work != text.view()) assign_cut_between_characters(text, work);
}

}  // namespace

std::size_t entry_head_length(std::string_view text) {
  if (!text.starts_with("(#")) return 0;
  std::size_t at = 2;
  if (text.substr(at).starts_with("body")) {
    at += 4;
  } else {
    while (at < text.size() && is_ascii_digit(text[at])) ++at;
    if (at == 2) return 0;
  }
  return text.substr(at).starts_with(":) ") ? at + 3 : 0;
}

void make_fields_readable(message_fields& fields, std::string& work, readable_work& decoding) {
  std::string_view charset = fields.charset.view();
  for (field_text message_fields::*field :
       {&message_fields::from, &message_fields::to, &message_fields::cc, &message_fields::bcc,
        &message_fields::date, &message_fields::forward_date, &message_fields::subject,
        &message_fields::attachment_info}) {
    decode_field(fields.*field, charset, work, decoding);
  }
  make_valid(fields.recent_ip, work);
  make_valid(fields.message_read, work);
  make_valid(fields.message_id, work);
  make_valid(fields.date_time.time_text, work);
}
