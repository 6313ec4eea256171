// The record's fields for a person or a program to read (the readable listing):
// each entry's text made UTF-8, into the writer's work room; the message's own
// fields stay as the scan made them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "listing/record/columns.h"
#include "listing/record/message_fields.h"
#include "listing/record/readable_text.h"

// A field's text as the readable listing shows it, with where its entries stand.
struct readable_entries {
  std::string text;
  std::vector<entry_place> places;
};

// The entries of `field` as the readable listing shows them: each entry's text
// decoded by its encoded words and the message's `charset` (readable_form::decoded)
// or only made valid UTF-8 (made_valid), heads and padding as they are, a line end
// a space; cut between characters at the field's capacity. The field itself when
// that changes nothing, else what `room` now holds. `decoding` is the scan's.
entries_view readable_entries_of(const entry_field& field, readable_form form,
                                 std::string_view charset, readable_entries& room,
                                 readable_work& decoding);

// `text` made valid UTF-8, a line end a space, cut between characters at `capacity`:
// `text` itself when that changes nothing, else what `room` now holds.
std::string_view readable_text_of(std::string_view text, std::size_t capacity, std::string& room);
