#include "listing/record/message_fields.h"

#include <charconv>

void append_entry_head(entry_field& field, int& counter, bool body) {
  char head[24] = {'(', '#'};
  char* end = head + 2;
  if (body) {
    std::memcpy(end, "body", 4);
    end += 4;
  } else {
    end = std::to_chars(end, head + sizeof head, counter).ptr;
  }
  std::memcpy(end, ":) ", 3);
  end += 3;
  std::string_view text(head, static_cast<std::size_t>(end - head));
  std::size_t at = field.text.size();
  // Only a head that fits whole starts an entry; the rest of one is text.
  if (field.text.append(text) && field.count < k_most_entries) {
    field.place(field.count++) = {static_cast<uint16_t>(at),
                                  static_cast<uint16_t>(at + text.size()),
                                  body ? k_body_entry : counter};
  }
  ++counter;
}

void append_entry(entry_field& field, int& counter, std::string_view text) {
  append_entry_head(field, counter, false);
  field.text.append(text);
  field.text.append("  ");
}

void clear_entries(entry_field& field) {
  field.text.clear();
  field.count = 0;
}

void reset_message_fields(message_fields& fields) {
  for (entry_field message_fields::*field :
       {&message_fields::from, &message_fields::to, &message_fields::cc, &message_fields::bcc,
        &message_fields::date, &message_fields::forward_date, &message_fields::subject,
        &message_fields::message_read, &message_fields::attachment_info,
        &message_fields::recent_ip}) {
    clear_entries(fields.*field);
  }
  fields.message_read.text.assign(k_unknown_read_flag);
  fields.message_id.clear();
  fields.charset.clear();
  fields.date_time = parsed_date{};
}
