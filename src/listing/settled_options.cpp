#include "listing/settled_options.h"

#include <algorithm>

#include "listing/record/record.h"
#include "settings/run_settings.h"

namespace {

// The run's scan options; settle_scan_options fills them.
scan_options s_settled_options;

}  // namespace

void settle_scan_options() {
  const run_settings& settings = *g_settings;
  scan_options& options = s_settled_options;
  options.mailbox = settings.mbox != 0;
  options.outlook = settings.pst != 0;
  options.outlook_recover = settings.pst != 0 && settings.pst_recover != 0;
  options.message_id = settings.msgid != 0;
  options.sent_utc = settings.sent_utc != 0;
  options.sent_after_set = settings.sent_after_set != 0;
  options.sent_before_set = settings.sent_before_set != 0;
  options.sent_after = g_sent_after;
  options.sent_before = g_sent_before;
  options.utf = settings.utf != 0;
  options.json = settings.json != 0;
  options.md5 = settings.hash != 0;
  options.sha1 = settings.sha1 != 0;
  options.sha256 = settings.sha2 != 0;
  options.delimiter = g_delimiter;
  options.quoted = settings.quote_fields != 0;
  options.scanners = std::clamp(static_cast<int>(settings.scanners), 1, k_most_scanners);
  choose_record_form(options);
}

const scan_options& settled_scan_options() { return s_settled_options; }
