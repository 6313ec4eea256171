// The record's fields for a person or a program to read: each field split into
// its entries, and the entries' text made UTF-8 (the readable listing).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "listing/message_fields.h"
#include "listing/readable_text.h"

// One entry of a field: "(#3:) " (its head, label "3"; "(#body:) " for a body
// entry), its text, and the padding that ends it ("  " where the field has it).
// A field that does not begin with a head is one entry without a head.
struct field_entry {
  std::string_view head;
  std::string_view label;
  std::string_view text;
  std::string_view padding;
};

// Length of the entry head at the start of `text` ("(#" digits or "body" ":) "),
// 0 when there is none.
std::size_t entry_head_length(std::string_view text);

// Calls `visit` with each entry of `field`, in order: head, text and padding of
// all of them together are the field.
template <typename visitor>
void for_each_entry(std::string_view field, visitor visit) {
  while (!field.empty()) {
    field_entry entry;
    std::size_t head = entry_head_length(field);
    entry.head = field.substr(0, head);
    if (head != 0) entry.label = field.substr(2, head - 5);
    // The entry goes on up to the next head after its two spaces of padding.
    std::size_t end = field.size();
    for (std::size_t at = field.find("(#", head); at != std::string_view::npos;
         at = field.find("(#", at + 1)) {
      if (at >= head + 2 && field[at - 1] == ' ' && field[at - 2] == ' ' &&
          entry_head_length(field.substr(at)) != 0) {
        end = at;
        break;
      }
    }
    std::string_view body = field.substr(head, end - head);
    std::size_t padding = body.ends_with("  ") ? 2 : 0;
    entry.text = body.substr(0, body.size() - padding);
    entry.padding = body.substr(body.size() - padding);
    visit(entry);
    field.remove_prefix(end);
  }
}

// Makes the text of every field UTF-8 in place: the message fields by their
// encoded words and the message's charset, the Recent IP field, the Message-ID and
// the Date-Time's time as valid UTF-8. Heads and padding stay as they are; a field
// that grows past its capacity is cut between characters. `work` and `decoding`
// are the scan's.
void make_fields_readable(message_fields& fields, std::string& work, readable_work& decoding);
