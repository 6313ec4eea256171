#include "listing/outlook_listing.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "listing/new_do_eml.h"
#include "listing/sources/outlook_file.h"

namespace {

// The record the scan makes of `item`, as the run's options say.
std::string record_of(const outlook_item& item, bool utf, bool json) {
  auto scan = std::make_unique<message_scan>();
  scan->options.utf = utf;
  scan->options.json = json;
  scan->options.outlook = true;
  choose_record_form(scan->options);
  std::string bytes;
  EXPECT_EQ(scan_outlook_message(*scan, item, bytes), scan_result::done);
  std::string held;
  scan->record.held = &held;
  message_place place{1, item.identifier, item.folder};
  file_dates dates;
  write_record_prefix(scan->record, nullptr, scan->options, "/m/a.pst", 1, dates);
  write_record_end(scan->record, nullptr, scan->options, {&scan->fields, &place, &scan->hashes});
  return held;
}

}  // namespace

// libpff gives UTF-8: the readable listing keeps it as it is, whatever charset the
// message's own Content-Type names; the store's read flag and attachment table
// are entries in the scan's own shapes, numbered on from what the lines gave.
TEST(outlook_listing, store_text_is_utf8_and_store_facts_take_the_scans_shapes) {
  outlook_item received;
  received.is_message = true;
  received.identifier = 2097188;
  received.folder = "Top/Bo\xC3\xAEte";
  received.transport_headers =
      "Subject: Caf\xC3\xA9 r\xC3\xA9union\nContent-Type: text/plain; charset=\"iso-8859-1\"\n"
      "Content-Disposition: attachment; filename=\"a.txt\"\n";
  received.body = "Gr\xC3\xBC\xC3\x9F" "e\n";
  received.has_read_flag = true;
  received.read = true;
  received.attachments = {"b.pdf"};
  outlook_item built = received;
  built.transport_headers.clear();
  built.subject = "Caf\xC3\xA9 r\xC3\xA9union";
  built.read = false;
  built.attachments = {"a.txt", "b\npdf"};
  struct {
    const outlook_item* item;
    bool utf, json;
    const char* wanted;
  } cases[] = {
      {&received, true, false, "|(#1:) Subject: Caf\xC3\xA9 r\xC3\xA9union  |"},
      {&received, false, false, "|(#1:) Subject: Caf\xC3\xA9 r\xC3\xA9union  |"},
      {&received, true, true, "\"text\":\"Subject: Caf\xC3\xA9 r\xC3\xA9union\""},
      {&received, true, false, "|(#1:)  YES |(#1:) Attachment info: filename=\"a.txt\"  "
                               "(#2:) Attachment info: filename=\"b.pdf\"  |"},
      {&received, true, false, "|1|2097188|Top/Bo\xC3\xAEte"},
      {&built, true, false, "|(#1:) Subject: Caf\xC3\xA9 r\xC3\xA9union  |(#1:)  NO/Unknown "
                            "|(#1:) Attachment info: filename=\"a.txt\"  (#2:) Attachment info: "
                            "filename=\"b pdf\"  |"},
      {&built, true, true, "\"folder\":\"Top/Bo\xC3\xAEte\""},
  };
  for (const auto& c : cases) {
    std::string record = record_of(*c.item, c.utf, c.json);
    EXPECT_NE(record.find(c.wanted), std::string::npos) << record;
    EXPECT_EQ(record.find("\xC3\x83"), std::string::npos) << "converted twice: " << record;
  }
}
